// The notification-area icon: hint (tooltip), balloons, the popup menu and the clicks.
// Where the desktop has no notification area, a small "BackUp Dovra" window stands for it:
// it shows the icon and the tray tip, shows balloons as a line of text for their time-out,
// takes single and double clicks on the icon, and opens the popup menu on a right click.
// GUI thread only.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <map>
#include <string>

#include "core/window_model.h"

class QMenu;
class QAction;
class QWidget;
class QLabel;

namespace dovra {

class Tray : public QObject {
  Q_OBJECT
 public:
  Tray(WindowModel& model, std::function<void(const std::string&)> run);
  ~Tray() override;

  void apply(const UiEvent& event);
  bool usesStandIn() const { return standIn_ != nullptr; }
  QWidget* standIn() const { return standIn_; }
  static QIcon programIcon();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void activated(QSystemTrayIcon::ActivationReason reason);
  void singleClickLater();
  void doubleClick();
  void updateMenu();
  void placeStandIn();  // sized to its text, in the lower right corner

  WindowModel& model_;
  std::function<void(const std::string&)> run_;
  QSystemTrayIcon* icon_ = nullptr;
  QWidget* standIn_ = nullptr;
  QLabel* standInTip_ = nullptr;
  QLabel* standInBalloon_ = nullptr;
  QTimer balloonTimer_;
  QTimer clickTimer_;
  QMenu* menu_ = nullptr;
  std::map<std::string, QAction*> actions_;
};

}  // namespace dovra
