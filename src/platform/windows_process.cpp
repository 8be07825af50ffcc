#include "platform/process.h"

#include "platform/windows_support.h"

#include <shellapi.h>

namespace dovra {

bool startDetached(const std::string& path) {
  const std::wstring program = win::widePath(path);
  if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  // The program is named by its full path and its command line quotes it: a folder with
  // blanks in its name cannot make another program start in its place.
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

bool processRuns(long pid) {
  // long is 32 bits here: every positive value is a possible process id.
  if (pid <= 0 || static_cast<unsigned long>(pid) > MAXDWORD) return false;
  win::Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.valid()) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return true;
  return code == STILL_ACTIVE;
}

long currentProcessId() {
  return static_cast<long>(GetCurrentProcessId());
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(win::narrow(wide[i]));
  LocalFree(wide);
  return out;
}

}  // namespace dovra
