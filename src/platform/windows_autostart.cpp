#include "platform/autostart.h"

#include "platform/error.h"
#include "platform/windows_support.h"

namespace dovra {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

std::string autostartEntryPath(const std::string& name) {
  return "HKEY_CURRENT_USER\\" + win::narrow(kRunKey) + "\\" + name;
}

void writeAutostartEntry(const std::string& name, const std::string& executable) {
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                               &key, nullptr);
  if (rc != ERROR_SUCCESS) throw Exception(systemErrorText(win::errnoFromWin32(rc)));
  // Quoted, so that a folder with blanks in its name starts this program and no other.
  const std::wstring data = L"\"" + win::widePath(executable) + L"\"";
  rc = RegSetValueExW(key, win::widen(name).c_str(), 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(data.c_str()),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) throw Exception(systemErrorText(win::errnoFromWin32(rc)));
}

}  // namespace dovra
