// What a worker may reach of the program: the run state, the window and tray model, the
// clock and the main loop. Workers get this and the connections, sessions and callbacks
// they use, never the main window object.
#pragma once

#include "core/run_state.h"
#include "core/window_model.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace dovra {

struct WorkerContext {
  RunState& state;
  WindowModel& window;
  const Clock& clock;
  EventLoop& loop;
};

}  // namespace dovra
