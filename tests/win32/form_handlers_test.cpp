// The Win32 front end on the program's own main window object: clicks on the notification
// icon, the window's buttons and the settings page's time edits reach the real handlers,
// and what those handlers change shows in the controls and in the calls to the shell.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "form/form1.h"
#include "support/fakes.h"
#include "win32/front_end.h"
#include "win32/win32_event_loop.h"

namespace dovra {
namespace {

bool shown(HWND hwnd) {
  return (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::wstring textOf(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Win32FormTest : public ::testing::Test {
 protected:
  Win32FormTest() {
    // Only the handlers this test calls for run: no start sequence, no update check.
    form.timerInicia.setEnabled(false);
    form.Timer3.setEnabled(false);
  }
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::filesystem::path(temp) / "dovra win32 configuração";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    SetEnvironmentVariableW(L"DOVRA_WINDOWS_DIR", (folder.wstring() + L"\\").c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"DOVRA_WINDOWS_DIR", nullptr);
    std::filesystem::remove_all(folder);
  }
  void pump(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      loop.processEvents();
      Sleep(10);
    }
  }
  void iconMouse(UINT message) {
    SendMessageW(ui.tray().hwnd(), Win32Tray::kCallbackMessage, 1, message);
  }
  void doubleClickIcon() {
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) iconMouse(m);
  }
  std::vector<const NOTIFYICONDATAW*> balloons() const {
    std::vector<const NOTIFYICONDATAW*> out;
    for (const NOTIFYICONDATAW& d : calls) {
      if ((d.uFlags & NIF_INFO) && d.szInfo[0] != L'\0') out.push_back(&d);
    }
    return out;
  }
  HWND control(const char* name) { return ui.window().control(name); }

  Win32EventLoop loop;
  test::ManualClock clock;
  test::ScriptedDialogs dialogs;
  TForm1 form{loop, dialogs, clock};
  std::vector<NOTIFYICONDATAW> calls;
  Win32FrontEnd ui{form.window(), [this](const std::string& h) { form.runHandler(h); },
                   [this](DWORD, const NOTIFYICONDATAW& data) {
                     calls.push_back(data);
                     return true;
                   }};
  std::filesystem::path folder;
};

TEST_F(Win32FormTest, WhileTheProgramStartsTheIconOnlyAsksToWait) {
  form.window().setHint(WindowModel::kStartupHint);
  iconMouse(WM_LBUTTONDOWN);
  iconMouse(WM_LBUTTONUP);
  pump(static_cast<int>(GetDoubleClickTime()) + 300);
  ASSERT_EQ(balloons().size(), 1u);
  const NOTIFYICONDATAW& b = *balloons()[0];
  EXPECT_STREQ(b.szInfoTitle, L"Backup Dovra");
  EXPECT_STREQ(b.szInfo, L"Aguarde o sistema está sendo inicializado.");
  EXPECT_EQ(b.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
  EXPECT_EQ(b.uTimeout, 20000u);

  // A double click gives the same balloon and leaves the window closed.
  doubleClickIcon();
  pump(static_cast<int>(GetDoubleClickTime()) + 300);
  EXPECT_EQ(balloons().size(), 2u);
  EXPECT_FALSE(IsWindowVisible(ui.window().hwnd()));
  // No menu yet: the right button opens nothing.
  EXPECT_TRUE(ui.tray().menuEntries().empty());
}

TEST_F(Win32FormTest, OnceStartedTheIconOpensTheWindowAndItsButtonsWork) {
  form.window().setHint("BackUp Dovra \rEmpresa: LOJA - LOJA");
  form.window().setMenuAttached(true);
  iconMouse(WM_LBUTTONDOWN);
  iconMouse(WM_LBUTTONUP);
  pump(static_cast<int>(GetDoubleClickTime()) + 300);
  EXPECT_TRUE(balloons().empty());
  EXPECT_FALSE(IsWindowVisible(ui.window().hwnd()));

  doubleClickIcon();
  pump(100);
  EXPECT_TRUE(IsWindowVisible(ui.window().hwnd()));
  EXPECT_EQ(ui.tray().menuEntries(), (std::vector<std::string>{"Mostrar1", "BackUpManual1",
                                                               "Pararservico1", "N1", "Sair1"}));

  // "LOG" reveals the three hidden buttons; the log reveals the settings page's tab.
  SendMessageW(control("Label8"), WM_LBUTTONDBLCLK, 0, MAKELPARAM(2, 2));
  for (const char* name : {"SpeedButton4", "SpeedButton3", "SpeedButton12"}) {
    EXPECT_TRUE(shown(control(name))) << name;
  }
  EXPECT_EQ(ui.window().tabs(), (std::vector<std::string>{"tbsbackup", "TabSheet4"}));
  SendMessageW(control("MemoBackup"), WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(ui.window().tabs(), (std::vector<std::string>{"tbsbackup", "TabSheet3", "TabSheet4"}));
  EXPECT_EQ(ui.window().currentPage(), "tbsbackup");  // revealed, not selected

  // "Sair" on the window only hides it; the icon stays.
  SendMessageW(control("SpeedButton5"), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(ui.window().hwnd()));
  EXPECT_TRUE(form.window().trayIconVisible());
}

TEST_F(Win32FormTest, SettingsPageTimeEditsWriteTheSettingsFileWhenLeft) {
  form.state().InstallationId = "LOJA";
  const std::filesystem::path settings = folder / "LOJA.dvk";
  {
    std::ofstream out(settings, std::ios::binary);
    out << "[conexao]\r\nendereco=srv:C:\\ERP\\ERP.FDB\r\n[backup]\r\ntempo1=09:30\r\n";
  }
  form.window().setPageVisible("TabSheet3", true);
  form.showMainWindow();
  SendMessageW(control("PageControl1"), TCM_SETCURFOCUS, 1, 0);
  ASSERT_EQ(ui.window().currentPage(), "TabSheet3");
  // The page filled itself from the file.
  EXPECT_EQ(textOf(control("MaskEdit1")), L"09:30");
  EXPECT_EQ(textOf(control("MaskEdit2")), L"__:__");

  const HWND first = control("MaskEdit1");
  SetFocus(first);
  SendMessageW(first, EM_SETSEL, 0, 0);
  for (wchar_t ch : std::wstring(L"173")) SendMessageW(first, WM_CHAR, ch, 0);
  SendMessageW(first, EM_SETSEL, 5, 5);
  SendMessageW(first, WM_CHAR, L'\b', 0);
  ASSERT_EQ(textOf(first), L"17:3_");
  // Incomplete: refused with the edit's complaint, the focus kept, nothing written.
  SetFocus(control("MaskEdit2"));
  pump(50);
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(GetFocus(), first);
  EXPECT_NE(readFile(settings).find("tempo1=09:30"), std::string::npos);

  SendMessageW(first, EM_SETSEL, 4, 4);
  SendMessageW(first, WM_CHAR, L'5', 0);
  SetFocus(control("MaskEdit3"));
  pump(50);
  EXPECT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(GetFocus(), control("MaskEdit3"));
  const std::string written = readFile(settings);
  EXPECT_NE(written.find("tempo1=17:35"), std::string::npos) << written;
  EXPECT_NE(written.find("endereco=srv:C:\\ERP\\ERP.FDB"), std::string::npos) << written;

  // The FTP time edit left untouched writes its blank mask as it stands.
  SetFocus(first);
  pump(50);
  EXPECT_NE(readFile(settings).find("tempo3=  :  "), std::string::npos) << readFile(settings);
}

}  // namespace
}  // namespace dovra
