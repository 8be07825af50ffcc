#include <windows.h>

#include <cstdio>

#include "app/desktop.h"
#include "win32/win32_program.h"

namespace dovra {

bool desktopAvailable() {
  // A service or a session without a desktop has no interactive window station.
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD size = 0;
  if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &size)) {
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }
  return true;
}

void useStartingConsole() {
  const auto missing = [](DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE;
  };
  const bool in = missing(STD_INPUT_HANDLE), out = missing(STD_OUTPUT_HANDLE),
             err = missing(STD_ERROR_HANDLE);
  if (!(in || out || err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (in) std::freopen("CONIN$", "r", stdin);
  if (out) std::freopen("CONOUT$", "w", stdout);
  if (err) std::freopen("CONOUT$", "w", stderr);
}

int runDesktopProgram(char*, const std::function<void(TForm1&)>& wire) {
  return runWin32Program(wire);
}

}  // namespace dovra
