#include <windows.h>

#include <csignal>
#include <functional>
#include <mutex>

#include "platform/termination_signals.h"

namespace dovra {
namespace {

std::mutex& handlerMutex() {
  static std::mutex m;
  return m;
}

std::function<void(int)>& handler() {
  static std::function<void(int)> h;
  return h;
}

// Runs on a thread the system starts for the console event. Returning TRUE for a close,
// log-off or shut-down event lets the system end the process once the handler returns, so
// the handler waits a moment for the exit sequence that the callback posts.
BOOL WINAPI onConsoleEvent(DWORD event) {
  int signal = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal = SIGINT;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  std::function<void(int)> h;
  {
    std::lock_guard lock(handlerMutex());
    h = handler();
  }
  if (!h) return FALSE;
  h(signal);
  if (signal == SIGTERM) Sleep(2000);
  return TRUE;
}

}  // namespace

void blockTerminationSignals() {}

void watchTerminationSignals(std::function<void(int signal)> onSignal) {
  {
    std::lock_guard lock(handlerMutex());
    handler() = std::move(onSignal);
  }
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace dovra
