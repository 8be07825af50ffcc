#include "win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <string_view>

#include "win32/tray.h"
#include "win32/wide_text.h"

namespace dovra {
namespace {

constexpr wchar_t kFormClass[] = L"BackUpDovraForm";
constexpr wchar_t kPageClass[] = L"BackUpDovraPage";
constexpr int kClientWidth = window_layout::kClientWidth;
constexpr int kClientHeight = window_layout::kClientHeight;
constexpr int kFirstId = 1000;
// Posted when the focus has left a control for another one of the window (wParam: index).
constexpr UINT kLeftControl = WM_APP + 5;
// Posted when the window was minimised: it goes back to the tray instead.
constexpr UINT kMinimised = WM_APP + 6;

// A time edit's text as the operator sees it: blank places as "_".
std::wstring timeEditDisplay(const std::string& modelText) {
  std::wstring w = wide(WindowModel::timeEditText(modelText));
  std::replace(w.begin(), w.end(), L' ', L'_');
  return w;
}

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A time edit's text as the model holds it: the blank places as blanks.
std::string timeEditModelText(HWND edit) {
  std::wstring w = windowText(edit);
  std::replace(w.begin(), w.end(), L'_', L' ');
  return WindowModel::timeEditText(utf8(w));
}

void registerClass(const wchar_t* name, WNDPROC proc, HICON big, HICON small) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = big;
  wc.hIconSm = small;
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

}  // namespace

Win32MainWindow::Win32MainWindow(WindowModel& model, std::function<void(const std::string&)> run)
    : model_(model), run_(std::move(run)) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW lf = metrics.lfMessageFont;
  font_ = CreateFontIndirectW(&lf);
  lf.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectW(&lf);
  LOGFONTW large{};
  large.lfHeight = -16;
  large.lfWeight = FW_BOLD;
  large.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(large.lfFaceName, L"Tahoma", LF_FACESIZE);
  large_ = CreateFontIndirectW(&large);
  bigIcon_ = Win32Tray::programIcon(GetSystemMetrics(SM_CXICON));
  smallIcon_ = Win32Tray::programIcon(GetSystemMetrics(SM_CXSMICON));
  // The open folder as the shell draws it; no file is looked at.
  SHFILEINFOW folder{};
  if (SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &folder, sizeof folder,
                     SHGFI_ICON | SHGFI_SMALLICON | SHGFI_OPENICON | SHGFI_USEFILEATTRIBUTES)) {
    folderIcon_ = folder.hIcon;
  }

  registerClass(kFormClass, &Win32MainWindow::windowProc, bigIcon_, smallIcon_);
  registerClass(kPageClass, &Win32MainWindow::windowProc, nullptr, nullptr);

  // A single border and a caption without the system menu: no title-bar buttons.
  const DWORD style = WS_CAPTION | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_CONTROLPARENT;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  hwnd_ = CreateWindowExW(exStyle, kFormClass, wide(model_.caption()).c_str(), style, x, y, width,
                          height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  controls_.reserve(128);
  tabs_ =
      CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                      0, 0, kClientWidth, kClientHeight, hwnd_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId - 1)),
                      GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  controls_.push_back(
      {.name = window_layout::kPageControlName, .kind = Kind::Frame, .hwnd = tabs_});
  for (const PageLayout& p : window_layout::pages()) {
    const HWND page = makePage(p);
    ControlKind previous = ControlKind::Group;
    for (const ControlLayout& c : window_layout::controls()) {
      if (std::string_view(c.page) != p.name) continue;
      build(page, c, previous);
      previous = c.kind;
    }
  }
  loadModel();
}

Win32MainWindow::~Win32MainWindow() {
  for (Control& c : controls_) {
    if (c.original) SetWindowLongPtrW(c.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(c.original));
  }
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  for (Page& p : pages_) SetWindowLongPtrW(p.hwnd, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  for (HFONT f : {font_, bold_, large_}) DeleteObject(f);
  for (HICON i : {bigIcon_, smallIcon_, folderIcon_}) {
    if (i) DestroyIcon(i);
  }
}

HWND Win32MainWindow::makePage(const PageLayout& layout) {
  const std::wstring caption = wide(layout.caption);
  // The pages are siblings above the tab control, in its display area.
  RECT area{0, 0, kClientWidth, kClientHeight};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"Backup");
  SendMessageW(tabs_, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  SendMessageW(tabs_, TCM_DELETEALLITEMS, 0, 0);
  const HWND page =
      CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, caption.c_str(), WS_CHILD, area.left,
                      area.top, area.right - area.left, area.bottom - area.top, hwnd_, nullptr,
                      GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  pages_.push_back(
      {.name = layout.name, .caption = caption, .showHandler = layout.showHandler, .hwnd = page});
  controls_.push_back({.name = layout.name, .kind = Kind::Frame, .hwnd = page});
  return page;
}

Win32MainWindow::Control& Win32MainWindow::add(HWND page, const std::string& name, Kind kind,
                                               const wchar_t* className, const std::wstring& text,
                                               DWORD style, DWORD exStyle, int x, int y, int w,
                                               int h) {
  const int id = kFirstId + static_cast<int>(controls_.size());
  const HWND hwnd = CreateWindowExW(
      exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, page,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  controls_.push_back({.name = name, .kind = kind, .hwnd = hwnd});
  Control& c = controls_.back();
  if (kind == Kind::TimeEdit || kind == Kind::Memo || kind == Kind::Radio) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    c.original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32MainWindow::controlProc)));
  }
  return c;
}

void Win32MainWindow::build(HWND page, const ControlLayout& c, ControlKind previous) {
  // Radio buttons make a group of their own for the arrow keys: the first takes the tab
  // stop, and the control after the last one starts the next group.
  const bool radio = c.kind == ControlKind::Radio;
  const DWORD group = radio == (previous != ControlKind::Radio) ? WS_GROUP : 0;
  const std::wstring text = wide(c.caption);
  Control* made = nullptr;
  switch (c.kind) {
    case ControlKind::Group:
      made = &add(page, c.name, Kind::Frame, WC_BUTTONW, text, BS_GROUPBOX, 0, c.x, c.y, c.w, c.h);
      break;
    case ControlKind::Caption:
      made = &add(page, "", Kind::Caption, WC_STATICW, text, SS_LEFT | SS_NOPREFIX, 0, c.x, c.y,
                  c.w, c.h);
      break;
    case ControlKind::Label: {
      DWORD style = SS_LEFT | SS_NOPREFIX;
      if (c.trigger == Trigger::DoubleClick) style |= SS_NOTIFY;
      if (c.has(look::kLarge)) style |= SS_SUNKEN | SS_CENTERIMAGE;
      made = &add(page, c.name, Kind::Label, WC_STATICW, text, style, 0, c.x, c.y, c.w, c.h);
      const HFONT font = c.has(look::kLarge) ? large_ : c.has(look::kBold) ? bold_ : nullptr;
      if (font) SendMessageW(made->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      break;
    }
    case ControlKind::Button: {
      // The folder picture when the shell gives one, "..." otherwise.
      const bool icon = c.has(look::kFolderIcon) && folderIcon_;
      const std::wstring shown = c.has(look::kFolderIcon) && !icon ? L"..." : text;
      made = &add(page, c.name, Kind::Button, WC_BUTTONW, shown,
                  BS_PUSHBUTTON | WS_TABSTOP | group | (icon ? BS_ICON : 0), 0, c.x, c.y, c.w, c.h);
      if (icon) {
        SendMessageW(made->hwnd, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(folderIcon_));
      }
      break;
    }
    case ControlKind::Edit:
    case ControlKind::TimeEdit: {
      DWORD style = ES_AUTOHSCROLL | WS_TABSTOP | group;
      if (c.has(look::kReadOnly)) style |= ES_READONLY;
      if (c.has(look::kDisabled)) style |= WS_DISABLED;
      made = &add(page, c.name, c.kind == ControlKind::TimeEdit ? Kind::TimeEdit : Kind::Edit,
                  WC_EDITW, L"", style, WS_EX_CLIENTEDGE, c.x, c.y, c.w, c.h);
      break;
    }
    case ControlKind::Memo: {
      DWORD style = ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP | group;
      if (c.has(look::kNoWrap)) style |= WS_HSCROLL | ES_AUTOHSCROLL;
      made = &add(page, c.name, Kind::Memo, WC_EDITW, L"", style, WS_EX_CLIENTEDGE, c.x, c.y, c.w,
                  c.h);
      SendMessageW(made->hwnd, EM_SETLIMITTEXT, 0, 0);  // no 32 K limit on a long log
      break;
    }
    case ControlKind::Radio:
      made = &add(page, c.name, Kind::Radio, WC_BUTTONW, text,
                  BS_AUTORADIOBUTTON | (group ? WS_GROUP | WS_TABSTOP : 0), 0, c.x, c.y, c.w, c.h);
      break;
    case ControlKind::Gauge:
      made = &add(page, c.name, Kind::Gauge, WC_STATICW, text, SS_OWNERDRAW | group, 0, c.x, c.y,
                  c.w, c.h);
      break;
    case ControlKind::Panel:
      made = &add(page, c.name, Kind::Panel, WC_STATICW, text, group, 0, c.x, c.y, c.w, c.h);
      break;
  }
  made->handler = c.handler;
  made->trigger = c.trigger;
}

void Win32MainWindow::loadModel() {
  // The window as the model has it now: what workers or the start sequence set before the
  // window existed shows at once.
  for (Control& c : controls_) {
    if (c.name.empty() || c.kind == Kind::Frame) continue;
    if (!model_.controlVisible(c.name)) ShowWindow(c.hwnd, SW_HIDE);
    switch (c.kind) {
      case Kind::Label: {
        const std::string text = model_.labelText(c.name);
        if (!text.empty()) SetWindowTextW(c.hwnd, wide(text).c_str());
        c.color = model_.labelColor(c.name);
        break;
      }
      case Kind::Edit:
      case Kind::TimeEdit:
        setEditText(c, model_.editText(c.name));
        break;
      case Kind::Memo:
        for (const std::string& line : model_.memoLines(c.name)) appendMemoLine(c.hwnd, line);
        break;
      case Kind::Radio:
        SendMessageW(c.hwnd, BM_SETCHECK, model_.checked(c.name) ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      default:
        break;
    }
  }
  gaugeMaximum_ = model_.gaugeMaximum();
  gaugeProgress_ = model_.gaugeProgress();
  gaugePercent_ = model_.gaugePercent();
  for (Page& p : pages_) p.visible = model_.pageVisible(p.name);
  const std::string active = model_.activePage();
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i].name == active) current_ = i;
  }
  rebuildTabs();
  if (model_.windowVisible()) showWindow(true, false);
}

Win32MainWindow::Control* Win32MainWindow::find(const std::string& name) {
  for (Control& c : controls_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const Win32MainWindow::Control* Win32MainWindow::find(const std::string& name) const {
  for (const Control& c : controls_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

Win32MainWindow::Control* Win32MainWindow::find(HWND hwnd) {
  for (Control& c : controls_) {
    if (c.hwnd == hwnd) return &c;
  }
  return nullptr;
}

HWND Win32MainWindow::control(const std::string& name) const {
  if (name.empty()) return nullptr;
  const Control* c = find(name);
  return c ? c->hwnd : nullptr;
}

std::vector<std::string> Win32MainWindow::tabs() const {
  std::vector<std::string> names;
  const int count = static_cast<int>(SendMessageW(tabs_, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    TCITEMW item{};
    item.mask = TCIF_PARAM;
    SendMessageW(tabs_, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    names.push_back(pages_[static_cast<size_t>(item.lParam)].name);
  }
  return names;
}

std::string Win32MainWindow::currentPage() const {
  return pages_[current_].name;
}

COLORREF Win32MainWindow::labelTextColor(const std::string& name) const {
  const Control* c = find(name);
  return colorOf(c ? c->color : LabelColor::Default);
}

std::wstring Win32MainWindow::gaugeText() const {
  return std::to_wstring(gaugePercent_) + L"%";
}

COLORREF Win32MainWindow::colorOf(LabelColor color) const {
  switch (color) {
    case LabelColor::Highlight:
      return GetSysColor(COLOR_HIGHLIGHT);
    case LabelColor::Red:
      return RGB(255, 0, 0);
    case LabelColor::Blue:
      return RGB(0, 0, 255);
    case LabelColor::Default:
      break;
  }
  return GetSysColor(COLOR_WINDOWTEXT);
}

void Win32MainWindow::rebuildTabs() {
  if (!pages_[current_].visible) {
    for (size_t i = 0; i < pages_.size(); ++i) {
      if (pages_[i].visible) {
        current_ = i;
        break;
      }
    }
  }
  SendMessageW(tabs_, TCM_DELETEALLITEMS, 0, 0);
  int index = 0;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (!pages_[i].visible) continue;
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = pages_[i].caption.data();
    item.lParam = static_cast<LPARAM>(i);
    SendMessageW(tabs_, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
    if (i == current_) SendMessageW(tabs_, TCM_SETCURSEL, index, 0);
    ++index;
  }
  for (size_t i = 0; i < pages_.size(); ++i) {
    ShowWindow(pages_[i].hwnd, i == current_ ? SW_SHOW : SW_HIDE);
  }
}

void Win32MainWindow::selectPage(size_t index, bool notify) {
  const bool changed = index != current_;
  current_ = index;
  rebuildTabs();
  if (notify && changed && !pages_[current_].showHandler.empty()) {
    run_(pages_[current_].showHandler);
  }
}

void Win32MainWindow::showWindow(bool visible, bool topmost) {
  SetWindowPos(hwnd_, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (visible) {
    const bool wasVisible = IsWindowVisible(hwnd_) != FALSE;
    if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    // The page on top is shown with the window: the settings page fills itself again.
    if (!wasVisible && !pages_[current_].showHandler.empty()) run_(pages_[current_].showHandler);
  } else {
    ShowWindow(hwnd_, SW_HIDE);
  }
}

void Win32MainWindow::setEditText(Control& c, const std::string& text) {
  c.typed = false;  // the program's text: what the operator typed before is gone
  const std::wstring shown = c.kind == Kind::TimeEdit ? timeEditDisplay(text) : wide(text);
  if (windowText(c.hwnd) != shown) SetWindowTextW(c.hwnd, shown.c_str());
}

void Win32MainWindow::appendMemoLine(HWND memo, const std::string& line) {
  std::wstring text = withCrLf(wide(line));
  if (GetWindowTextLengthW(memo) > 0) text.insert(0, L"\r\n");
  const LRESULT end = SendMessageW(memo, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(memo, EM_SETSEL, end, end);
  SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void Win32MainWindow::drawGauge(const DRAWITEMSTRUCT& item) const {
  // A bar with the percentage in its middle, the part under the bar drawn inverted.
  const HDC dc = item.hDC;
  RECT all = item.rcItem;
  FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
  RECT done = all;
  const int width = all.right - all.left;
  done.right = all.left + (gaugeMaximum_ > 0 ? static_cast<int>(static_cast<long long>(width) *
                                                                gaugeProgress_ / gaugeMaximum_)
                                             : 0);
  FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
  const std::wstring text = gaugeText();
  SetBkMode(dc, TRANSPARENT);
  const HGDIOBJ old = SelectObject(dc, font_);
  RECT rest = all;
  rest.left = done.right;
  for (const auto& [part, color] : {std::pair{done, GetSysColor(COLOR_HIGHLIGHTTEXT)},
                                    std::pair{rest, GetSysColor(COLOR_WINDOWTEXT)}}) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
    SetTextColor(dc, color);
    RECT box = all;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    RestoreDC(dc, saved);
  }
  SelectObject(dc, old);
  FrameRect(dc, &all, GetSysColorBrush(COLOR_BTNSHADOW));
}

void Win32MainWindow::leaveControl(Control& c) {
  if (c.kind == Kind::TimeEdit) {
    // An edit left untouched hands its text over unchanged, blanks included.
    if (c.typed) model_.setEditText(c.name, timeEditModelText(c.hwnd), true);
    run_(c.handler);
    // A refused text keeps its mark: the focus goes back into the edit. The control that
    // had just got the focus never really had it, so its own leaving is not reported.
    if (model_.editModified(c.name) && GetFocus() != c.hwnd) {
      refocusing_ = true;
      SetFocus(c.hwnd);
      refocusing_ = false;
    }
  } else if (c.kind == Kind::Radio && c.trigger == Trigger::Exit) {
    run_(c.handler);
  }
}

bool Win32MainWindow::timeEditKey(Control& c, UINT message, WPARAM wParam) {
  // The mask "hh:nn": four places around a fixed colon, each a digit or blank; typing
  // overwrites the place at the caret.
  std::wstring text = windowText(c.hwnd);
  if (text.size() != 5) text = timeEditDisplay("");
  DWORD start = 0, end = 0;
  SendMessageW(c.hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  size_t pos = std::min<size_t>(start, 5);
  const auto put = [&](size_t at, wchar_t ch, size_t caret) {
    text[at] = ch;
    c.typed = true;
    SetWindowTextW(c.hwnd, text.c_str());
    SendMessageW(c.hwnd, EM_SETSEL, caret, caret);
  };
  if (message == WM_KEYDOWN) {
    if (wParam != VK_DELETE) return false;
    if (pos == 2) pos = 3;
    if (pos < 5) put(pos, L'_', pos);
    return true;
  }
  const wchar_t ch = static_cast<wchar_t>(wParam);
  if (ch >= L'0' && ch <= L'9') {
    if (pos == 2) pos = 3;
    if (pos < 5) put(pos, ch, pos + 1 == 2 ? 3 : pos + 1);
  } else if (ch == L'\b') {
    if (pos == 3) pos = 2;
    if (pos > 0) put(pos - 1, L'_', pos - 1);
  } else if (ch == 0x03) {
    return false;  // Ctrl+C copies
  }
  return true;  // anything else would break the mask
}

LRESULT CALLBACK Win32MainWindow::controlProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  Control* c = self ? self->find(hwnd) : nullptr;
  if (!c || !c->original) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handleControl(*c, message, wParam, lParam);
}

LRESULT Win32MainWindow::handleControl(Control& c, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC original = c.original;
  const HWND hwnd = c.hwnd;
  switch (message) {
    case WM_KILLFOCUS: {
      // Switching to another program or a box popping up does not leave the control.
      const HWND next = reinterpret_cast<HWND>(wParam);
      if (c.kind != Kind::Memo && !refocusing_ && next && IsChild(hwnd_, next)) {
        PostMessageW(hwnd_, kLeftControl, static_cast<WPARAM>(&c - controls_.data()), 0);
      }
      break;
    }
    case WM_LBUTTONDBLCLK:
      if (c.trigger == Trigger::DoubleClick) {
        const std::string handler = c.handler;
        const LRESULT r = CallWindowProcW(original, hwnd, message, wParam, lParam);
        run_(handler);
        return r;
      }
      break;
    case WM_GETDLGCODE:
      if (c.kind == Kind::TimeEdit) {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        const LRESULT code = CallWindowProcW(original, hwnd, message, wParam, lParam);
        if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
          return code | DLGC_WANTMESSAGE;
        }
        return code;
      }
      break;
    case WM_KEYDOWN:
      if (c.kind == Kind::TimeEdit) {
        if (wParam == VK_ESCAPE) {
          model_.abandonEditChanges(c.name);
          return 0;
        }
        if (timeEditKey(c, message, wParam)) return 0;
      }
      break;
    case WM_CHAR:
      if (c.kind == Kind::TimeEdit) {
        if (wParam == VK_ESCAPE) return 0;
        if (timeEditKey(c, message, wParam)) return 0;
      }
      break;
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
      if (c.kind == Kind::TimeEdit) return 0;
      break;
    default:
      break;
  }
  return CallWindowProcW(original, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(hwnd, message, wParam, lParam);
}

LRESULT Win32MainWindow::handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      Control* c = find(reinterpret_cast<HWND>(lParam));
      if (!c) return 0;  // Enter and Escape of the keyboard navigation
      const UINT code = HIWORD(wParam);
      if (c->kind == Kind::Button && code == BN_CLICKED) run_(c->handler);
      if (c->kind == Kind::Radio && code == BN_CLICKED &&
          SendMessageW(c->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        model_.setChecked(c->name, true);
      }
      if (c->kind == Kind::Label && c->trigger == Trigger::DoubleClick && code == STN_DBLCLK) {
        run_(c->handler);
      }
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
        const LRESULT index = SendMessageW(tabs_, TCM_GETCURSEL, 0, 0);
        TCITEMW item{};
        item.mask = TCIF_PARAM;
        SendMessageW(tabs_, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
        selectPage(static_cast<size_t>(item.lParam), true);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      Control* c = find(reinterpret_cast<HWND>(lParam));
      if (c && (c->kind == Kind::Memo || (c->kind == Kind::Edit && IsWindowEnabled(c->hwnd)))) {
        // Read-only edits and logs keep the white of an edit.
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, colorOf(c && c->kind == Kind::Label ? c->color : LabelColor::Default));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const Control* c = find(item->hwndItem);
      if (c && c->kind == Kind::Gauge) drawGauge(*item);
      return TRUE;
    }
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case kLeftControl:
      if (wParam < controls_.size()) leaveControl(controls_[wParam]);
      return 0;
    default:
      break;
  }
  if (hwnd == hwnd_) {
    switch (message) {
      case WM_CLOSE:
        // The window has no close button; a close request only hides it to the tray.
        run_("SpeedButton5Click");
        return 0;
      case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_CLOSE) {
          run_("SpeedButton5Click");
          return 0;
        }
        break;
      case WM_SIZE:
        if (wParam == SIZE_MINIMIZED) PostMessageW(hwnd_, kMinimised, 0, 0);
        break;
      case kMinimised:
        ShowWindow(hwnd_, SW_RESTORE);
        run_("SpeedButton5Click");
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32MainWindow::apply(const UiEvent& e) {
  using K = UiEvent::Kind;
  switch (e.kind) {
    case K::Caption:
      SetWindowTextW(hwnd_, wide(e.text).c_str());
      break;
    case K::Label:
      if (Control* c = find(e.name); c && c->kind == Kind::Label) {
        c->color = e.color;
        SetWindowTextW(c->hwnd, wide(e.text).c_str());
        InvalidateRect(c->hwnd, nullptr, TRUE);
      }
      break;
    case K::Memo:
      if (Control* c = find(e.name); c && c->kind == Kind::Memo) appendMemoLine(c->hwnd, e.text);
      break;
    case K::MemoClear:
      if (Control* c = find(e.name); c && c->kind == Kind::Memo) SetWindowTextW(c->hwnd, L"");
      break;
    case K::Control:
      if (Control* c = find(e.name)) ShowWindow(c->hwnd, e.flag ? SW_SHOW : SW_HIDE);
      break;
    case K::Page:
      for (Page& p : pages_) {
        if (p.name == e.name) p.visible = e.flag;
      }
      rebuildTabs();
      break;
    case K::ActivePage:
      for (size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i].name == e.name && pages_[i].visible) selectPage(i, true);
      }
      break;
    case K::Edit:
      if (Control* c = find(e.name); c && (c->kind == Kind::Edit || c->kind == Kind::TimeEdit)) {
        setEditText(*c, e.text);
      }
      break;
    case K::Radio: {
      const bool local = (e.name == "rbLocal") == e.flag;
      if (Control* c = find("rbLocal")) {
        SendMessageW(c->hwnd, BM_SETCHECK, local ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      if (Control* c = find("rbRemoto")) {
        SendMessageW(c->hwnd, BM_SETCHECK, local ? BST_UNCHECKED : BST_CHECKED, 0);
      }
      break;
    }
    case K::Gauge:
      gaugeProgress_ = e.value;
      gaugeMaximum_ = e.maximum;
      gaugePercent_ = e.percent;
      if (Control* c = find("Gauge1")) InvalidateRect(c->hwnd, nullptr, FALSE);
      break;
    case K::Window:
      showWindow(e.flag, e.topmost);
      break;
    case K::Cursor: {
      busy_ = e.flag;
      POINT at{};
      GetCursorPos(&at);
      const HWND under = WindowFromPoint(at);
      if (under == hwnd_ || IsChild(hwnd_, under)) {
        SetCursor(LoadCursorW(nullptr, busy_ ? IDC_WAIT : IDC_ARROW));
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace dovra
