// The main window "BackUp Dovra Informática": fixed 663 x 308 client area, no title-bar
// buttons, centred, with the pages "Backup", "Configuração" (tab hidden until revealed)
// and "Descompactar". Every control carries the program's name as its objectName. It
// renders the window model's events and forwards the operator's actions to the form's
// handlers by name. GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "core/window_model.h"

class QTabWidget;
class QLabel;
class QPlainTextEdit;
class QLineEdit;
class QRadioButton;
class QProgressBar;
class QPushButton;

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
  QWidget* buildBackupPage();
  QWidget* buildSettingsPage();
  QWidget* buildUnpackPage();
  QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, int w = -1,
                int h = 16);
  QPushButton* button(QWidget* parent, const char* name, const QString& text, const char* handler,
                      int x, int y, int w, int h);
  QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w, bool readOnly);
  void pageIndexChanged(int index);

  WindowModel& model_;
  std::function<void(const std::string&)> run_;
  QTabWidget* pages_ = nullptr;
  std::map<std::string, QLabel*> labels_;
  std::map<std::string, QPlainTextEdit*> memos_;
  std::map<std::string, QLineEdit*> edits_;
  std::map<std::string, QWidget*> controls_;
  QRadioButton* rbLocal_ = nullptr;
  QRadioButton* rbRemoto_ = nullptr;
  QProgressBar* gauge_ = nullptr;
  bool busy_ = false;
};

}  // namespace dovra
