#include "platform/termination_signals.h"

#include <pthread.h>
#include <csignal>
#include <thread>

namespace dovra {
namespace {

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void blockTerminationSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watchTerminationSignals(std::function<void(int signal)> onSignal) {
  std::thread([onSignal = std::move(onSignal)] {
    const sigset_t set = terminationSet();
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) == 0) onSignal(sig);
    }
  }).detach();
}

}  // namespace dovra
