#include "headless/headless_program.h"

#include <iostream>
#include <string>
#include <thread>

#include "form/form1.h"
#include "headless/headless_front_end.h"
#include "platform/posix_event_loop.h"
#include "platform/termination_signals.h"

namespace dovra {

int runHeadlessProgram(const std::function<void(TForm1&)>& wire) {
  PosixEventLoop loop;
  SystemClock clock;
  HeadlessFrontEnd frontEnd(stdout);
  TForm1 form(loop, frontEnd, clock);
  frontEnd.attach(form);
  if (wire) wire(form);

  watchTerminationSignals(
      [&loop, &form](int) { loop.post([&form] { form.terminateBySignal(); }); });
  // Commands from standard input. At its end the program keeps running (it may be started
  // with no input at all); a signal or "Sair1Click" ends it.
  std::thread([&loop, &frontEnd] {
    std::string line;
    while (std::getline(std::cin, line)) {
      loop.post([&frontEnd, line] { frontEnd.handleLine(line); });
    }
  }).detach();

  form.FormCreate();
  const int code = loop.run();
  frontEnd.writeExit(code);
  return code;
}

}  // namespace dovra
