#include "win32/win32_program.h"

#include "form/form1.h"
#include "platform/clock.h"
#include "platform/termination_signals.h"
#include "win32/front_end.h"
#include "win32/win32_dialogs.h"
#include "win32/win32_event_loop.h"

namespace dovra {

int runWin32Program(const std::function<void(TForm1&)>& wire) {
  Win32EventLoop loop;
  SystemClock clock;
  Win32Dialogs dialogs;
  TForm1 form(loop, dialogs, clock);
  Win32FrontEnd frontEnd(form.window(),
                         [&form](const std::string& handler) { form.runHandler(handler); });
  dialogs.setOwner(frontEnd.window().hwnd());
  loop.addDialogWindow(frontEnd.window().hwnd());
  // Log-off or shut-down: the exit sequence before Windows ends the process.
  frontEnd.tray().setEndSessionHandler([&form] { form.terminateBySignal(); });
  if (wire) wire(form);
  // Ctrl+C or a closed console of a program started from one: the same exit sequence.
  watchTerminationSignals(
      [&loop, &form](int) { loop.post([&form] { form.terminateBySignal(); }); });
  form.FormCreate();
  const int code = loop.run();
  loop.removeDialogWindow(frontEnd.window().hwnd());
  return code;
}

}  // namespace dovra
