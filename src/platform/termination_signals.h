// SIGTERM, SIGINT and SIGHUP end the program through its exit sequence. Call
// blockTerminationSignals() first thing in main(), before any thread exists, so that every
// thread inherits the mask; then watchTerminationSignals() hands each signal to a callback
// on a thread of its own (the callback posts the exit sequence to the main loop). SIGPIPE
// is ignored: a dropped connection is an error of the call that meets it.
#pragma once

#include <functional>

namespace dovra {

void blockTerminationSignals();
// Starts a detached thread that calls `onSignal` for each termination signal received.
void watchTerminationSignals(std::function<void(int signal)> onSignal);

}  // namespace dovra
