#include "win32/win32_dialogs.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "win32/wide_text.h"

namespace dovra {

UINT messageBoxStyle(MessageIcon icon, MessageButtons buttons) {
  UINT style = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MessageIcon::Error:
      style |= MB_ICONERROR;
      break;
    case MessageIcon::Exclamation:
      style |= MB_ICONEXCLAMATION;
      break;
    case MessageIcon::Information:
      style |= MB_ICONINFORMATION;
      break;
    case MessageIcon::Question:
      style |= MB_ICONQUESTION;
      break;
    case MessageIcon::None:
      break;
  }
  return style;
}

std::wstring openDialogFilter(const std::string& filter) {
  std::wstring out;
  size_t parts = 0;
  size_t start = 0;
  while (start <= filter.size()) {
    const size_t bar = filter.find('|', start);
    const size_t end = bar == std::string::npos ? filter.size() : bar;
    out += wide(filter.substr(start, end - start));
    out += L'\0';
    ++parts;
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (parts % 2 != 0) out += L"*.*";  // a description without its pattern
  if (parts % 2 != 0) out += L'\0';
  out += L'\0';
  return out;
}

std::string withoutTrailingSeparator(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

HWND Win32Dialogs::owner() const {
  return owner_ && IsWindowVisible(owner_) ? owner_ : nullptr;
}

MessageAnswer Win32Dialogs::messageBox(const std::string& caption, const std::string& text,
                                       MessageIcon icon, MessageButtons buttons) {
  const HWND parent = owner();
  UINT style = messageBoxStyle(icon, buttons);
  // A tray program's box must not open behind other programs' windows.
  style |= parent ? MB_APPLMODAL : MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;
  const int answer =
      MessageBoxW(parent, withCrLf(wide(text)).c_str(), wide(caption).c_str(), style);
  if (buttons == MessageButtons::YesNo) {
    return answer == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
  }
  return MessageAnswer::Ok;
}

std::optional<std::string> Win32Dialogs::openFile(const FileDialogOptions& options) {
  std::vector<wchar_t> file(32768, L'\0');
  copyToBuffer(wide(options.fileName), file.data(), file.size());
  const std::wstring filter = openDialogFilter(options.filter);
  const std::wstring title = wide(options.title);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = title.c_str();
  // The chosen file need not exist (the dialog also picks folders by a typed name); the
  // program's current folder stays where it was.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return utf8(file.data());
}

std::optional<std::string> Win32Dialogs::browseFolder(const std::string& title) {
  // The dialog with its "new folder" button needs a single-threaded apartment; where the
  // thread already has another one, the classic dialog is shown.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const bool apartment = SUCCEEDED(com);
  const std::wstring prompt = wide(title);
  BROWSEINFOW bi{};
  bi.hwndOwner = owner();
  bi.lpszTitle = prompt.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | (apartment ? BIF_NEWDIALOGSTYLE : 0);
  std::optional<std::string> chosen;
  if (PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi)) {
    std::vector<wchar_t> path(32768, L'\0');
    if (SHGetPathFromIDListEx(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
      chosen = withoutTrailingSeparator(utf8(path.data()));
    }
    CoTaskMemFree(pidl);
  }
  if (apartment) CoUninitialize();
  return chosen;
}

}  // namespace dovra
