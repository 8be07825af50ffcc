// The main window "BackUp Dovra Informática": fixed 663 x 308 client area, no title-bar
// buttons, centred, with the pages "Backup", "Configuração" (tab hidden until revealed)
// and "Descompactar", built from the window's description (core/window_layout.h); controls
// inside a group box's frame are its children. Every control carries the program's name
// as its objectName. It renders the window model's events and forwards the operator's
// actions to the form's handlers by name. GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/window_model.h"

class QTabWidget;
class QLabel;
class QPlainTextEdit;
class QLineEdit;
class QRadioButton;
class QProgressBar;
class QPushButton;
class QGroupBox;

namespace dovra {

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // `run` runs a handler by name; `model` receives what the operator types.
  MainWindow(WindowModel& model, std::function<void(const std::string&)> run);

  void apply(const UiEvent& event);
  QTabWidget* pages() const { return pages_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  using Groups = std::vector<std::pair<QGroupBox*, const ControlLayout*>>;
  // Makes the control `c` on `page`, inside the innermost group of `groups` whose frame
  // holds it.
  void build(QWidget* page, Groups& groups, const ControlLayout& c);
  void pageIndexChanged(int index);

  WindowModel& model_;
  std::function<void(const std::string&)> run_;
  QTabWidget* pages_ = nullptr;
  std::map<std::string, QLabel*> labels_;
  std::map<std::string, QPlainTextEdit*> memos_;
  std::map<std::string, QLineEdit*> edits_;
  std::map<std::string, QWidget*> controls_;
  std::map<std::string, QRadioButton*> radios_;
  std::map<std::string, std::string> exits_;            // control -> handler on leaving it
  std::map<const QObject*, std::string> doubleClicks_;  // widget -> handler
  QProgressBar* gauge_ = nullptr;
  bool busy_ = false;
};

}  // namespace dovra
