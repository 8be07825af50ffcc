#include "win32/tray.h"

#include <algorithm>

#include "win32/wide_text.h"

namespace dovra {
namespace {

constexpr wchar_t kClassName[] = L"BackUpDovraTray";
constexpr UINT kIconId = 1;
constexpr UINT_PTR kClickTimer = 1;

DWORD infoFlags(BalloonIcon icon) {
  switch (icon) {
    case BalloonIcon::Information:
      return NIIF_INFO;
    case BalloonIcon::Warning:
      return NIIF_WARNING;
    case BalloonIcon::Error:
      return NIIF_ERROR;
    case BalloonIcon::None:
      break;
  }
  return NIIF_NONE;
}

// A balloon shows its line breaks from LF; the program's texts break lines with CR.
std::wstring balloonText(const std::string& text) {
  std::wstring w = wide(text);
  for (wchar_t& c : w) {
    if (c == L'\r') c = L'\n';
  }
  return w;
}

}  // namespace

HICON Win32Tray::programIcon(int size) {
  // A database cylinder with an arrow into it, on a transparent ground.
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP color = CreateCompatibleBitmap(screen, size, size);
  const HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  ReleaseDC(nullptr, screen);
  const auto s = [size](int v) { return v * size / 64; };
  const auto draw = [&](HBITMAP target, bool isMask) {
    const HGDIOBJ old = SelectObject(dc, target);
    RECT all{0, 0, size, size};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(isMask ? WHITE_BRUSH : BLACK_BRUSH)));
    const HPEN pen =
        CreatePen(PS_SOLID, std::max(1, s(3)), isMask ? RGB(0, 0, 0) : RGB(20, 50, 120));
    const HBRUSH body = CreateSolidBrush(isMask ? RGB(0, 0, 0) : RGB(50, 110, 200));
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const HGDIOBJ oldBrush = SelectObject(dc, body);
    Ellipse(dc, s(8), s(42), s(56), s(60));
    Rectangle(dc, s(8), s(14), s(56), s(52));
    Ellipse(dc, s(8), s(4), s(56), s(24));
    if (!isMask) {
      const HPEN arrow = CreatePen(PS_SOLID, std::max(1, s(6)), RGB(255, 255, 255));
      SelectObject(dc, arrow);
      MoveToEx(dc, s(32), s(22), nullptr);
      LineTo(dc, s(32), s(46));
      MoveToEx(dc, s(23), s(37), nullptr);
      LineTo(dc, s(32), s(46));
      LineTo(dc, s(41), s(37));
      SelectObject(dc, pen);
      DeleteObject(arrow);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(body);
    SelectObject(dc, old);
  };
  draw(mask, true);
  draw(color, false);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = color;
  const HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  DeleteObject(color);
  DeleteDC(dc);
  return icon;
}

Win32Tray::Win32Tray(WindowModel& model, std::function<void(const std::string&)> run,
                     NotifyCall notify)
    : model_(model), run_(std::move(run)), notify_(std::move(notify)) {
  if (!notify_) {
    notify_ = [](DWORD message, const NOTIFYICONDATAW& data) {
      NOTIFYICONDATAW copy = data;
      return Shell_NotifyIconW(message, &copy) != FALSE;
    };
  }
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Tray::windowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  // A top-level window (never shown): message-only windows miss the taskbar's broadcast.
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"BackUp Dovra", WS_POPUP, 0, 0, 0, 0,
                          nullptr, nullptr, instance, nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  icon_ = programIcon(GetSystemMetrics(SM_CXSMICON));
  visible_ = model_.trayIconVisible();
  if (visible_) add();
}

Win32Tray::~Win32Tray() {
  remove();
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  DestroyIcon(icon_);
}

NOTIFYICONDATAW Win32Tray::iconData(UINT flags) const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kIconId;
  data.uFlags = flags;
  return data;
}

void Win32Tray::add() {
  NOTIFYICONDATAW data = iconData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  data.uCallbackMessage = kCallbackMessage;
  data.hIcon = icon_;
  copyToBuffer(wide(model_.trayTip()), data.szTip, std::size(data.szTip));
  // Fails while there is no taskbar yet; "TaskbarCreated" brings the icon then.
  added_ = notify_(NIM_ADD, data);
}

void Win32Tray::remove() {
  if (!added_) return;
  notify_(NIM_DELETE, iconData(0));
  added_ = false;
}

void Win32Tray::updateTip() {
  if (!added_) return;
  NOTIFYICONDATAW data = iconData(NIF_TIP);
  copyToBuffer(wide(model_.trayTip()), data.szTip, std::size(data.szTip));
  notify_(NIM_MODIFY, data);
}

void Win32Tray::showBalloon(const UiEvent& e) {
  if (!added_) return;
  NOTIFYICONDATAW data = iconData(NIF_INFO);
  copyToBuffer(balloonText(e.text), data.szInfo, std::size(data.szInfo));
  copyToBuffer(wide(e.title), data.szInfoTitle, std::size(data.szInfoTitle));
  data.uTimeout = static_cast<UINT>(std::max(0, e.timeout)) * 1000;
  data.dwInfoFlags = infoFlags(e.icon);
  notify_(NIM_MODIFY, data);
}

void Win32Tray::hideBalloon() {
  if (!added_) return;
  // An empty text removes the balloon that is showing.
  notify_(NIM_MODIFY, iconData(NIF_INFO));
}

std::vector<std::string> Win32Tray::menuEntries() const {
  std::vector<std::string> entries;
  if (!model_.menuAttached()) return entries;
  for (const MenuEntryLayout& entry : window_layout::menu()) {
    if (model_.menuItemVisible(entry.name)) entries.emplace_back(entry.name);
  }
  return entries;
}

void Win32Tray::popupMenu() {
  const std::vector<std::string> entries = menuEntries();
  if (entries.empty()) return;
  const HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < entries.size(); ++i) {
    const MenuEntryLayout* entry = window_layout::findMenuEntry(entries[i]);
    if (entry->separator()) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, MF_STRING, i + 1, wide(entry->caption).c_str());
    }
  }
  POINT at{};
  GetCursorPos(&at);
  // In the foreground, the menu closes when the operator clicks elsewhere.
  SetForegroundWindow(hwnd_);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
  PostMessageW(hwnd_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (chosen >= 1 && chosen <= entries.size()) {
    run_(window_layout::findMenuEntry(entries[chosen - 1])->handler);
  }
}

void Win32Tray::iconMessage(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONUP:
      if (afterDouble_) {
        afterDouble_ = false;
        break;
      }
      // A single click counts only when no second click follows within the double-click
      // time.
      clickPending_ = true;
      SetTimer(hwnd_, kClickTimer, GetDoubleClickTime(), nullptr);
      break;
    case WM_LBUTTONDBLCLK:
      KillTimer(hwnd_, kClickTimer);
      clickPending_ = false;
      afterDouble_ = true;
      run_("CoolTrayIcon1DblClick");
      break;
    case WM_RBUTTONUP:
      popupMenu();
      break;
    default:
      break;
  }
}

LRESULT CALLBACK Win32Tray::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Win32Tray*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT Win32Tray::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCallbackMessage) {
    iconMessage(static_cast<UINT>(LOWORD(lParam)));
    return 0;
  }
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    added_ = false;  // the new taskbar holds no icon of ours
    if (visible_) add();
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (wParam == kClickTimer) {
        KillTimer(hwnd_, kClickTimer);
        if (clickPending_) {
          clickPending_ = false;
          run_("CoolTrayIcon1Click");
        }
        return 0;
      }
      break;
    case WM_ENDSESSION:
      if (wParam && endSession_) endSession_();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Win32Tray::apply(const UiEvent& e) {
  using K = UiEvent::Kind;
  switch (e.kind) {
    case K::Hint:
      updateTip();
      break;
    case K::Balloon:
      showBalloon(e);
      break;
    case K::BalloonHide:
      hideBalloon();
      break;
    case K::TrayIcon:
      visible_ = e.flag;
      if (visible_ && !added_) add();
      if (!visible_) remove();
      break;
    default:
      break;  // the menu is built from the model each time it opens
  }
}

}  // namespace dovra
