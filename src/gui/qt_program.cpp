#include "gui/qt_program.h"

#include <QApplication>

#include "form/form1.h"
#include "gui/main_window.h"
#include "gui/qt_dialogs.h"
#include "gui/qt_event_loop.h"
#include "gui/tray.h"
#include "platform/termination_signals.h"

namespace dovra {

QtFrontEnd::QtFrontEnd(TForm1& form) {
  const auto run = [&form](const std::string& handler) { form.runHandler(handler); };
  window_ = std::make_unique<MainWindow>(form.window(), run);
  tray_ = std::make_unique<Tray>(form.window(), run);
  form.window().setObserver(this);
}

QtFrontEnd::~QtFrontEnd() = default;

void QtFrontEnd::onUiEvent(const UiEvent& event) {
  window_->apply(event);
  tray_->apply(event);
}

int runQtProgram(int argc, char** argv, const std::function<void(TForm1&)>& wire) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(TForm1::kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(Tray::programIcon());
  QtEventLoop loop;
  SystemClock clock;
  QtDialogs dialogs;
  TForm1 form(loop, dialogs, clock);
  QtFrontEnd frontEnd(form);
  if (wire) wire(form);
  watchTerminationSignals(
      [&loop, &form](int) { loop.post([&form] { form.terminateBySignal(); }); });
  form.FormCreate();
  return loop.run();
}

}  // namespace dovra
