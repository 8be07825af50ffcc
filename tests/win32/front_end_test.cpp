// The Win32 front end driven through its model and through the messages Windows sends:
// the window built from the model, controls read back after model changes, the operator's
// clicks and typing, the tray icon's calls to the shell (recorded), and the message loop.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/window_layout.h"
#include "core/window_model.h"
#include "platform/text_codec.h"
#include "win32/front_end.h"
#include "win32/wide_text.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_event_loop.h"

namespace dovra {
namespace {

std::wstring textOf(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool shown(HWND hwnd) {
  return (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

struct ShellCall {
  DWORD message;
  NOTIFYICONDATAW data;
};

class Win32FrontEndTest : public ::testing::Test {
 protected:
  void create() {
    ui = std::make_unique<Win32FrontEnd>(
        model,
        [this](const std::string& handler) {
          ran.push_back(handler);
          if (onRun) onRun(handler);
        },
        [this](DWORD message, const NOTIFYICONDATAW& data) {
          calls.push_back({message, data});
          return true;
        });
  }
  HWND control(const char* name) {
    HWND hwnd = ui->window().control(name);
    EXPECT_NE(hwnd, nullptr) << name;
    return hwnd;
  }
  std::wstring text(const char* name) { return textOf(control(name)); }
  // Runs the loop for `ms` milliseconds.
  void pump(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      loop.processEvents();
      Sleep(10);
    }
  }
  bool ranHandler(const std::string& name) const {
    return std::find(ran.begin(), ran.end(), name) != ran.end();
  }

  Win32EventLoop loop;
  WindowModel model{loop};
  std::vector<std::string> ran;
  std::function<void(const std::string&)> onRun;  // what the handler does besides being run
  std::vector<ShellCall> calls;
  std::unique_ptr<Win32FrontEnd> ui;
};

TEST_F(Win32FrontEndTest, WindowIsBuiltFromTheModelAsItStands) {
  model.setCaption("BackUp Dovra Informática - LOJA AÇÃO");
  model.setLabel("lbStatus", "Backup concluído", LabelColor::Red);
  model.memoAdd("MemoBackup", "linha 1");
  model.memoAdd("MemoBackup", "linha 2");
  model.setPageVisible("TabSheet3", true);
  model.setEditText("MaskEdit1", "09:30");
  model.setChecked("rbRemoto", true);
  create();
  Win32MainWindow& w = ui->window();

  EXPECT_EQ(textOf(w.hwnd()), L"BackUp Dovra Informática - LOJA AÇÃO");
  EXPECT_FALSE(shown(w.hwnd()));
  RECT client{};
  GetClientRect(w.hwnd(), &client);
  EXPECT_EQ(client.right - client.left, 663);
  EXPECT_EQ(client.bottom - client.top, 308);
  const LONG_PTR style = GetWindowLongPtrW(w.hwnd(), GWL_STYLE);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

  EXPECT_EQ(text("lbStatus"), L"Backup concluído");
  EXPECT_EQ(w.labelTextColor("lbStatus"), RGB(255, 0, 0));
  EXPECT_EQ(w.labelTextColor("lbDecompress"), RGB(0, 0, 255));
  EXPECT_EQ(text("MemoBackup"), L"linha 1\r\nlinha 2");
  EXPECT_EQ(w.tabs(), (std::vector<std::string>{"tbsbackup", "TabSheet3", "TabSheet4"}));
  EXPECT_EQ(w.currentPage(), "tbsbackup");
  EXPECT_EQ(text("MaskEdit1"), L"09:30");
  EXPECT_EQ(text("MaskEdit2"), L"__:__");
  EXPECT_EQ(SendMessageW(control("rbRemoto"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(control("rbLocal"), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  // Design captions, and what starts hidden.
  EXPECT_EQ(text("GroupBox3"), L" Informações sobre o ultimo BackUp ");
  EXPECT_EQ(text("spbBackup"), L"Backup Manual");
  EXPECT_EQ(text("SpeedButton5"), L"Sair");
  EXPECT_EQ(text("SpeedButton13"), L"Inicia com o Windows");
  EXPECT_EQ(text("lbProgresso"), L"Progresso");
  EXPECT_EQ(text("Label8"), L"LOG");
  EXPECT_EQ(text("Label14"), L"Caminho arquivo compactado (zlib)");
  EXPECT_TRUE(shown(control("spbBackup")));
  for (const char* hidden : {"SpeedButton4", "SpeedButton3", "SpeedButton12", "lbProgresso",
                             "Gauge1", "memoRestore", "Panel1"}) {
    EXPECT_FALSE(shown(control(hidden))) << hidden;
  }
  EXPECT_FALSE(IsWindowEnabled(control("Edit3")));
  // The archive chooser shows a picture instead of a caption.
  EXPECT_EQ(text("SpeedButton10"), L"");
  EXPECT_NE(SendMessageW(control("SpeedButton10"), BM_GETIMAGE, IMAGE_ICON, 0), 0);
  EXPECT_NE(GetWindowLongPtrW(control("Edit1"), GWL_STYLE) & ES_READONLY, 0);
}

// Every control of the description on its page, where and as it says, and nothing else:
// named ones found by name, captions and frames by their text and corner.
TEST_F(Win32FrontEndTest, WindowHoldsWhatItsDescriptionSaysAndNothingElse) {
  create();
  Win32MainWindow& w = ui->window();
  for (const PageLayout& p : window_layout::pages()) {
    SCOPED_TRACE(p.name);
    const HWND page = control(p.name);
    std::vector<HWND> children;
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      children.push_back(c);
    }
    const auto rectOf = [page](HWND hwnd) {
      RECT r{};
      GetWindowRect(hwnd, &r);
      MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
      return r;
    };
    size_t described = 0;
    for (const ControlLayout& c : window_layout::controls()) {
      if (std::string(c.page) != p.name) continue;
      ++described;
      const std::string what = *c.name ? c.name : c.caption;
      const auto match = std::find_if(children.begin(), children.end(), [&](HWND hwnd) {
        if (*c.name) return hwnd == w.control(c.name);
        const RECT r = rectOf(hwnd);
        return textOf(hwnd) == wide(c.caption) && r.left == c.x && r.top == c.y;
      });
      ASSERT_NE(match, children.end()) << what;
      const RECT r = rectOf(*match);
      EXPECT_EQ(r.left, c.x) << what;
      EXPECT_EQ(r.top, c.y) << what;
      EXPECT_EQ(r.right - r.left, c.w) << what;
      EXPECT_EQ(r.bottom - r.top, c.h) << what;
      // An empty time edit shows its mask, the folder button its picture.
      if (!c.has(look::kFolderIcon) && c.kind != ControlKind::TimeEdit) {
        EXPECT_EQ(textOf(*match), wide(c.caption)) << what;
      }
      EXPECT_EQ(shown(*match), !c.hidden) << what;
      const LONG_PTR style = GetWindowLongPtrW(*match, GWL_STYLE);
      if (c.kind == ControlKind::Edit || c.kind == ControlKind::TimeEdit) {
        EXPECT_EQ((style & ES_READONLY) != 0, c.has(look::kReadOnly)) << what;
      }
      EXPECT_EQ(IsWindowEnabled(*match) == FALSE, c.has(look::kDisabled)) << what;
      children.erase(match);
    }
    EXPECT_GT(described, 0u);
    for (HWND extra : children) ADD_FAILURE() << "not described: " << utf8(textOf(extra));
  }
  // The radio buttons make a group of their own: the first starts it and takes the tab
  // stop, the button after them starts the next one.
  for (const char* name : {"rbLocal", "SpeedButton13"}) {
    EXPECT_NE(GetWindowLongPtrW(control(name), GWL_STYLE) & WS_GROUP, 0) << name;
  }
  EXPECT_EQ(GetWindowLongPtrW(control("rbRemoto"), GWL_STYLE) & (WS_GROUP | WS_TABSTOP), 0);
}

TEST_F(Win32FrontEndTest, ModelChangesReachTheControls) {
  model.setHint(WindowModel::kStartupHint);
  create();
  Win32MainWindow& w = ui->window();

  model.setLabel("lbDiretorio", "C:\\Backup\\Ação\\");
  EXPECT_EQ(text("lbDiretorio"), L"C:\\Backup\\Ação\\");
  model.setLabelColor("lbDiretorio", LabelColor::Highlight);
  EXPECT_EQ(w.labelTextColor("lbDiretorio"), GetSysColor(COLOR_HIGHLIGHT));

  model.setControlVisible("Gauge1", true);
  EXPECT_TRUE(shown(control("Gauge1")));
  model.setGauge(37, 100);
  EXPECT_EQ(w.gaugeText(), L"37%");
  model.setGauge(5, 0);
  EXPECT_EQ(w.gaugeText(), L"0%");

  EXPECT_EQ(w.tabs(), (std::vector<std::string>{"tbsbackup", "TabSheet4"}));
  model.setPageVisible("TabSheet3", true);
  EXPECT_EQ(w.tabs(), (std::vector<std::string>{"tbsbackup", "TabSheet3", "TabSheet4"}));
  model.setActivePage("TabSheet3");
  EXPECT_EQ(w.currentPage(), "TabSheet3");
  EXPECT_TRUE(shown(control("TabSheet3")));
  EXPECT_FALSE(shown(control("tbsbackup")));
  EXPECT_TRUE(ranHandler("TabSheet3Show"));
  model.setActivePage("tbsbackup");
  EXPECT_TRUE(shown(control("tbsbackup")));

  model.setEditText("Edit1", "D:\\Cópias");
  EXPECT_EQ(text("Edit1"), L"D:\\Cópias");
  model.setEditText("MaskEdit3", "");
  EXPECT_EQ(text("MaskEdit3"), L"__:__");
  model.setChecked("rbRemoto", true);
  EXPECT_EQ(SendMessageW(control("rbRemoto"), BM_GETCHECK, 0, 0), BST_CHECKED);
  model.setChecked("rbLocal", true);
  EXPECT_EQ(SendMessageW(control("rbLocal"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(control("rbRemoto"), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  model.memoAdd("mLog", "Erro: linha\rcom quebra");
  EXPECT_EQ(text("mLog"), L"Erro: linha\r\ncom quebra");
  model.memoClear("mLog");
  EXPECT_EQ(text("mLog"), L"");

  model.setCaption("BackUp Dovra Informática - 2");
  EXPECT_EQ(textOf(w.hwnd()), L"BackUp Dovra Informática - 2");

  // From a worker: posted, applied when the main loop runs.
  std::thread([this] { model.setLabel("lbStatus", "do trabalhador"); }).join();
  EXPECT_EQ(text("lbStatus"), L"");
  loop.processEvents();
  EXPECT_EQ(text("lbStatus"), L"do trabalhador");

  model.setWindowVisible(true);
  EXPECT_TRUE(IsWindowVisible(w.hwnd()));
  model.setWindowTopmost(true);
  EXPECT_NE(GetWindowLongPtrW(w.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  model.setWindowTopmost(false);
  model.setWindowVisible(false);
  EXPECT_FALSE(IsWindowVisible(w.hwnd()));
}

TEST_F(Win32FrontEndTest, LongLogKeepsEveryLine) {
  create();
  const std::string line(60, 'x');
  for (int i = 0; i < 1000; ++i) model.memoAdd("MemoBackup", line + std::to_string(i));
  const std::wstring all = text("MemoBackup");
  EXPECT_GT(all.size(), 60000u);
  EXPECT_EQ(all.substr(all.size() - 3), L"999");
}

TEST_F(Win32FrontEndTest, OperatorActionsRunTheirHandlers) {
  create();
  model.setWindowVisible(true);
  Win32MainWindow& w = ui->window();
  SendMessageW(control("spbBackup"), BM_CLICK, 0, 0);
  EXPECT_EQ(ran.back(), "spbBackupClick");
  SendMessageW(control("SpeedButton10"), BM_CLICK, 0, 0);
  EXPECT_EQ(ran.back(), "SpeedButton10Click");
  SendMessageW(control("Label8"), WM_LBUTTONDBLCLK, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(ran.back(), "Label8DblClick");
  SendMessageW(control("MemoBackup"), WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(ran.back(), "MemoBackupDblClick");

  model.setPageVisible("TabSheet3", true);
  model.setActivePage("TabSheet3");
  SendMessageW(control("rbRemoto"), BM_CLICK, 0, 0);
  EXPECT_TRUE(model.checked("rbRemoto"));
  SendMessageW(control("SpeedButton8"), BM_CLICK, 0, 0);
  EXPECT_EQ(ran.back(), "SpeedButton8Click");

  // The operator picks the page "Descompactar" on the tab control.
  ran.clear();
  SendMessageW(control("PageControl1"), TCM_SETCURFOCUS, 2, 0);
  EXPECT_EQ(w.currentPage(), "TabSheet4");
  SendMessageW(control("PageControl1"), TCM_SETCURFOCUS, 1, 0);
  EXPECT_EQ(w.currentPage(), "TabSheet3");
  EXPECT_EQ(ran, (std::vector<std::string>{"TabSheet3Show"}));

  // Closing or minimising only asks the "Sair" button to hide the window.
  SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ran.back(), "SpeedButton5Click");
  EXPECT_TRUE(IsWindow(w.hwnd()));
  ran.clear();
  SendMessageW(w.hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_EQ(ran, (std::vector<std::string>{"SpeedButton5Click"}));
  EXPECT_FALSE(IsIconic(w.hwnd()));
}

TEST_F(Win32FrontEndTest, TimeEditKeepsItsMaskAndReportsWhenLeft) {
  model.setPageVisible("TabSheet3", true);
  model.setActivePage("TabSheet3");
  model.setEditText("MaskEdit1", "09:30");
  create();
  model.setWindowVisible(true);
  const HWND edit = control("MaskEdit1");
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, 0);
  SendMessageW(edit, WM_CHAR, L'1', 0);
  SendMessageW(edit, WM_CHAR, L'7', 0);
  EXPECT_EQ(textOf(edit), L"17:30");
  SendMessageW(edit, WM_CHAR, L'4', 0);  // over the colon, into the minutes
  EXPECT_EQ(textOf(edit), L"17:40");
  SendMessageW(edit, WM_CHAR, L'x', 0);
  EXPECT_EQ(textOf(edit), L"17:40");
  SendMessageW(edit, EM_SETSEL, 5, 5);
  SendMessageW(edit, WM_CHAR, L'\b', 0);
  EXPECT_EQ(textOf(edit), L"17:4_");
  // Escape returns to the text the program set; the model never saw the typing.
  SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(textOf(edit), L"09:30");
  EXPECT_EQ(model.editText("MaskEdit1"), "09:30");

  SendMessageW(edit, EM_SETSEL, 3, 3);
  SendMessageW(edit, WM_CHAR, L'4', 0);
  SendMessageW(edit, WM_CHAR, L'5', 0);
  EXPECT_EQ(model.editText("MaskEdit1"), "09:30");
  ASSERT_EQ(GetFocus(), edit);
  SetFocus(control("MaskEdit2"));
  loop.processEvents();
  EXPECT_EQ(model.editText("MaskEdit1"), "09:45");
  EXPECT_TRUE(model.editModified("MaskEdit1"));
  EXPECT_EQ(ran, (std::vector<std::string>{"TabSheet3Show", "MaskEdit1Exit"}));
  // The handler did not accept it (the mark stays): the focus goes back into the edit.
  EXPECT_EQ(GetFocus(), edit);
}

TEST_F(Win32FrontEndTest, AcceptedAndUntouchedTimeEditsLetTheFocusGo) {
  model.setPageVisible("TabSheet3", true);
  model.setActivePage("TabSheet3");
  // The Exit handlers accept whatever the edit holds, as the program does with a full time.
  onRun = [this](const std::string& handler) {
    if (handler.ends_with("Exit")) {
      const std::string edit = handler.substr(0, handler.size() - 4);
      model.setEditText(edit, model.editText(edit));
    }
  };
  create();
  model.setWindowVisible(true);
  ran.clear();
  const HWND first = control("MaskEdit1"), second = control("MaskEdit2");
  const HWND third = control("MaskEdit3");

  // Never typed into: its blank mask goes to the handler unchanged and unmarked.
  SetFocus(second);
  SetFocus(third);
  loop.processEvents();
  EXPECT_EQ(ran, (std::vector<std::string>{"MaskEdit2Exit"}));
  EXPECT_EQ(model.editText("MaskEdit2"), "  :  ");
  EXPECT_FALSE(model.editModified("MaskEdit2"));
  EXPECT_EQ(GetFocus(), third);

  // Typed and accepted: the focus stays where the operator put it.
  ran.clear();
  SetFocus(first);
  loop.processEvents();
  SendMessageW(first, EM_SETSEL, 0, 0);
  for (wchar_t ch : std::wstring(L"1200")) SendMessageW(first, WM_CHAR, ch, 0);
  EXPECT_EQ(textOf(first), L"12:00");
  SetFocus(third);
  loop.processEvents();
  EXPECT_EQ(ran, (std::vector<std::string>{"MaskEdit3Exit", "MaskEdit1Exit"}));
  EXPECT_EQ(model.editText("MaskEdit1"), "12:00");
  EXPECT_FALSE(model.editModified("MaskEdit1"));
  EXPECT_EQ(GetFocus(), third);

  // Leaving for another program does not count as leaving the edit.
  ran.clear();
  SendMessageW(third, WM_KILLFOCUS, 0, 0);
  loop.processEvents();
  EXPECT_TRUE(ran.empty());
}

TEST_F(Win32FrontEndTest, TrayIconTipBalloonsAndTaskbarRestart) {
  model.setHint(WindowModel::kStartupHint);
  create();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(calls[0].data.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP),
            static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_NE(calls[0].data.hIcon, nullptr);
  EXPECT_STREQ(calls[0].data.szTip, L"Aguarde o sistema está sendo inicializado");

  std::string hint;
  for (int i = 0; i < 15; ++i) hint += "Empresa é";  // 150 characters
  model.setHint(hint);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(std::wstring(calls[1].data.szTip), wide(utf8Left(hint, 127)));
  EXPECT_EQ(wcslen(calls[1].data.szTip), 127u);

  calls.clear();
  model.showBalloon(std::string(70, 'T'), "Backup concluído\rem C:\\Backup", BalloonIcon::Warning,
                    20);
  ASSERT_EQ(calls.size(), 2u);
  // Any balloon is hidden first (an empty text), then the new one shows.
  EXPECT_EQ(calls[0].data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_STREQ(calls[0].data.szInfo, L"");
  EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(calls[1].data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(std::wstring(calls[1].data.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_STREQ(calls[1].data.szInfo, L"Backup concluído\nem C:\\Backup");
  EXPECT_EQ(calls[1].data.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
  EXPECT_EQ(calls[1].data.uTimeout, 20000u);
  model.showBalloon("Backup Dovra", "x", BalloonIcon::Error, 5);
  EXPECT_EQ(calls.back().data.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));

  // Explorer restarted: the icon comes back with the current tip.
  calls.clear();
  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  SendMessageW(ui->tray().hwnd(), taskbarCreated, 0, 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(wcslen(calls[0].data.szTip), 127u);

  calls.clear();
  model.setTrayIconVisible(false);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_DELETE));
  SendMessageW(ui->tray().hwnd(), taskbarCreated, 0, 0);
  model.showBalloon("Backup Dovra", "nada", BalloonIcon::Information, 5);
  EXPECT_EQ(calls.size(), 1u);  // no icon: nothing added, no balloon
  model.setTrayIconVisible(true);
  EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_ADD));
}

TEST_F(Win32FrontEndTest, TrayClicksAndMenu) {
  create();
  const HWND tray = ui->tray().hwnd();
  const auto mouse = [tray](UINT message) {
    SendMessageW(tray, Win32Tray::kCallbackMessage, 1, message);
  };
  // A double click: down, up, double, up. Only the double click is reported.
  mouse(WM_LBUTTONDOWN);
  mouse(WM_LBUTTONUP);
  mouse(WM_LBUTTONDBLCLK);
  mouse(WM_LBUTTONUP);
  pump(static_cast<int>(GetDoubleClickTime()) + 300);
  EXPECT_EQ(ran, (std::vector<std::string>{"CoolTrayIcon1DblClick"}));
  // A single click counts once the double-click time has passed.
  ran.clear();
  mouse(WM_LBUTTONDOWN);
  mouse(WM_LBUTTONUP);
  EXPECT_TRUE(ran.empty());
  pump(static_cast<int>(GetDoubleClickTime()) + 300);
  EXPECT_EQ(ran, (std::vector<std::string>{"CoolTrayIcon1Click"}));

  EXPECT_TRUE(ui->tray().menuEntries().empty());  // no menu before the start sequence
  model.setMenuAttached(true);
  EXPECT_EQ(ui->tray().menuEntries(), (std::vector<std::string>{"Mostrar1", "BackUpManual1",
                                                                "Pararservico1", "N1", "Sair1"}));
  model.setMenuItemVisible("Atualizardata1", true);
  EXPECT_EQ(ui->tray().menuEntries(),
            (std::vector<std::string>{"Mostrar1", "BackUpManual1", "Pararservico1",
                                      "Atualizardata1", "N1", "Sair1"}));
}

TEST(Win32EventLoopTest, TasksTimersAndExit) {
  Win32EventLoop loop;
  EXPECT_TRUE(loop.inMainThread());
  std::atomic<bool> onMain{false};
  std::thread([&] {
    EXPECT_FALSE(loop.inMainThread());
    loop.post([&] { onMain = loop.inMainThread(); });
  }).join();
  loop.processEvents();
  EXPECT_TRUE(onMain);

  // A tick that runs the loop itself is not entered again; a tick may stop its own timer.
  int ticks = 0, nested = 0;
  bool inside = false;
  int id = 0;
  id = loop.startTimer(20, [&] {
    if (inside) ++nested;
    inside = true;
    ++ticks;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < until) {
      loop.processEvents();
      Sleep(5);
    }
    inside = false;
    if (ticks == 3) loop.stopTimer(id);
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
  while (std::chrono::steady_clock::now() < until) {
    loop.processEvents();
    Sleep(5);
  }
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(nested, 0);

  // A failing task reaches the caller of the loop; the tasks behind it still run.
  bool later = false;
  loop.post([] { throw std::runtime_error("falhou"); });
  loop.post([&] { later = true; });
  EXPECT_THROW(loop.processEvents(), std::runtime_error);
  loop.processEvents();
  EXPECT_TRUE(later);

  loop.post([&] { loop.exit(3); });
  EXPECT_EQ(loop.run(), 3);
  EXPECT_TRUE(loop.exiting());
}

TEST(Win32DialogsTest, MessageBoxRunsTheLoopAndGivesTheAnswer) {
  Win32EventLoop loop;
  Win32Dialogs dialogs;
  bool ticked = false;
  // The box's own loop keeps the main loop's timers running: one answers the box.
  const int id = loop.startTimer(50, [&] {
    ticked = true;
    if (HWND box = FindWindowW(L"#32770", L"BackUpDovra")) {
      PostMessageW(box, WM_COMMAND, IDYES, 0);
    }
  });
  EXPECT_EQ(dialogs.messageBox("BackUpDovra", "Deseja continuar?\rSim ou não",
                               MessageIcon::Question, MessageButtons::YesNo),
            MessageAnswer::Yes);
  EXPECT_TRUE(ticked);
  loop.stopTimer(id);

  EXPECT_EQ(messageBoxStyle(MessageIcon::Error, MessageButtons::Ok),
            static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(messageBoxStyle(MessageIcon::Question, MessageButtons::YesNo),
            static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(messageBoxStyle(MessageIcon::Exclamation, MessageButtons::Ok),
            static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(messageBoxStyle(MessageIcon::Information, MessageButtons::Ok),
            static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(openDialogFilter("ALL files|*.*"), std::wstring(L"ALL files\0*.*\0\0", 15));
  EXPECT_EQ(openDialogFilter("Backup (*.fbk)|*.fbk|Todos|*.*"),
            std::wstring(L"Backup (*.fbk)\0*.fbk\0Todos\0*.*\0\0", 32));
  EXPECT_EQ(withoutTrailingSeparator("C:\\"), "C:");
  EXPECT_EQ(withoutTrailingSeparator("D:\\Cópias\\"), "D:\\Cópias");
}

// Finds the dialog titled `title` (while the main loop's timers run inside its own loop).
HWND dialogTitled(const wchar_t* title) {
  return FindWindowW(L"#32770", title);
}

TEST(Win32DialogsTest, FileDialogOffersThePromptAndReturnsAFileThatNeedNotExist) {
  Win32EventLoop loop;
  Win32Dialogs dialogs;
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring wanted = std::wstring(temp) + L"Cópias de segurança\\nao existe.txt";
  std::wstring prefilled, title;
  bool answered = false;
  const int id = loop.startTimer(100, [&] {
    const HWND box = dialogTitled(L"Selecione a pasta para backup manual");
    if (!box || answered) return;
    wchar_t text[MAX_PATH] = {};
    GetDlgItemTextW(box, cmb13, text, MAX_PATH);
    prefilled = text;
    GetWindowTextW(box, text, MAX_PATH);
    title = text;
    SendMessageW(box, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(wanted.c_str()));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    answered = true;
  });
  const std::optional<std::string> chosen =
      dialogs.openFile({.title = "Selecione a pasta para backup manual",
                        .fileName = "Selecione a pasta para backup manual",
                        .filter = "ALL files|*.*"});
  loop.stopTimer(id);
  EXPECT_EQ(title, L"Selecione a pasta para backup manual");
  EXPECT_EQ(prefilled, L"Selecione a pasta para backup manual");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(wide(*chosen), wanted);

  // Cancel gives nothing.
  const int cancel = loop.startTimer(100, [&] {
    if (const HWND box = dialogTitled(L"Selecione o arquivo de backup")) {
      PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    }
  });
  EXPECT_FALSE(dialogs
                   .openFile({.title = "Selecione o arquivo de backup",
                              .fileName = "*.zlib",
                              .filter = "ZLIB files|*.zlib"})
                   .has_value());
  loop.stopTimer(cancel);
}

TEST(Win32DialogsTest, FolderBrowserReturnsTheChosenFolder) {
  Win32EventLoop loop;
  Win32Dialogs dialogs;
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"Backup Ação";
  CreateDirectoryW(folder.c_str(), nullptr);
  bool selected = false, answered = false;
  const int id = loop.startTimer(200, [&] {
    // The browser's own window: the one of this thread with the dialog class.
    const HWND box = GetForegroundWindow();
    wchar_t name[32] = {};
    if (!box || answered || !GetClassNameW(box, name, 32) || std::wstring(name) != L"#32770") {
      return;
    }
    // The browser picks its first selection once its tree is filled; the folder is chosen
    // after that, and confirmed on the next tick.
    const HWND tree = FindWindowExW(box, nullptr, WC_TREEVIEWW, nullptr);
    if (!tree || !SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) return;
    SendMessageW(box, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    if (selected) {
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      answered = true;
    }
    selected = true;
  });
  const std::optional<std::string> chosen = dialogs.browseFolder("Selecionar a pasta para backup");
  loop.stopTimer(id);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(wide(*chosen), folder);  // without a trailing separator
  RemoveDirectoryW(folder.c_str());
}

TEST(WideTextTest, ConversionsAndCuts) {
  EXPECT_EQ(wide("Configuração"), L"Configuração");
  EXPECT_EQ(utf8(L"Configuração"), "Configuração");
  EXPECT_EQ(utf8(wide("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");  // outside the BMP
  const std::wstring pair = wide("ab\xF0\x9F\x98\x80");
  EXPECT_EQ(leftUnits(pair, 3), L"ab");  // never half a surrogate pair
  EXPECT_EQ(leftUnits(pair, 4), pair);
  EXPECT_EQ(withCrLf(L"a\rb\nc\r\nd"), L"a\r\nb\r\nc\r\nd");
  wchar_t buffer[4];
  copyToBuffer(L"abcdef", buffer, 4);
  EXPECT_STREQ(buffer, L"abc");
}

}  // namespace
}  // namespace dovra
