#include "gui/tray.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>
#include <QVBoxLayout>

namespace dovra {
namespace {

QString q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// A balloon's text with its carriage returns as line breaks.
QString lines(const std::string& s) {
  return q(s).replace('\r', '\n');
}

QSystemTrayIcon::MessageIcon trayIcon(BalloonIcon icon) {
  switch (icon) {
    case BalloonIcon::Information:
      return QSystemTrayIcon::Information;
    case BalloonIcon::Warning:
      return QSystemTrayIcon::Warning;
    case BalloonIcon::Error:
      return QSystemTrayIcon::Critical;
    case BalloonIcon::None:
      break;
  }
  return QSystemTrayIcon::NoIcon;
}

}  // namespace

QIcon Tray::programIcon() {
  QPixmap pm(64, 64);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  // A database cylinder with an arrow into it.
  p.setPen(QPen(QColor(20, 50, 120), 3));
  p.setBrush(QColor(50, 110, 200));
  p.drawRect(10, 16, 44, 36);
  p.drawEllipse(10, 44, 44, 14);
  p.drawEllipse(10, 8, 44, 16);
  p.setPen(QPen(QColor(255, 255, 255), 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(32, 22, 32, 46);
  p.drawLine(32, 46, 24, 38);
  p.drawLine(32, 46, 40, 38);
  return QIcon(pm);
}

Tray::Tray(WindowModel& model, std::function<void(const std::string&)> run)
    : model_(model), run_(std::move(run)) {
  menu_ = new QMenu;
  for (const MenuEntryLayout& entry : window_layout::menu()) {
    QAction* a = entry.separator() ? menu_->addSeparator() : menu_->addAction(entry.caption);
    a->setObjectName(entry.name);
    a->setVisible(model_.menuItemVisible(entry.name));
    if (!entry.separator()) {
      const std::string handler = entry.handler;
      connect(a, &QAction::triggered, this, [this, handler] { run_(handler); });
    }
    actions_[entry.name] = a;
  }
  clickTimer_.setSingleShot(true);
  connect(&clickTimer_, &QTimer::timeout, this, [this] { run_("CoolTrayIcon1Click"); });
  balloonTimer_.setSingleShot(true);

  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    icon_ = new QSystemTrayIcon(programIcon(), this);
    connect(icon_, &QSystemTrayIcon::activated, this, &Tray::activated);
    icon_->show();
  } else {
    standIn_ = new QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    standIn_->setObjectName("CoolTrayIcon1");
    standIn_->setWindowTitle("BackUp Dovra");
    auto* layout = new QHBoxLayout(standIn_);
    auto* iconLabel = new QLabel;
    iconLabel->setObjectName("trayIcon");
    iconLabel->setPixmap(programIcon().pixmap(40, 40));
    layout->addWidget(iconLabel);
    auto* texts = new QVBoxLayout;
    standInTip_ = new QLabel;
    standInTip_->setWordWrap(true);
    standInBalloon_ = new QLabel;
    standInBalloon_->setWordWrap(true);
    standInBalloon_->setStyleSheet("QLabel { background: #ffffe1; border: 1px solid #888; }");
    standInBalloon_->hide();
    texts->addWidget(standInTip_);
    texts->addWidget(standInBalloon_);
    layout->addLayout(texts, 1);
    standIn_->setFixedWidth(360);
    placeStandIn();
    connect(&balloonTimer_, &QTimer::timeout, this, [this] {
      standInBalloon_->hide();
      placeStandIn();
    });
    // The whole stand-in answers clicks as the icon would.
    standIn_->installEventFilter(this);
    for (QWidget* child : standIn_->findChildren<QWidget*>()) child->installEventFilter(this);
    standIn_->show();
  }
}

Tray::~Tray() {
  delete standIn_;
  delete menu_;
}

void Tray::placeStandIn() {
  // adjustSize() does not give a window of fixed width the height its wrapped texts need
  // at that width, so the hint's lines were cut: the layout is asked for it.
  QLayout* layout = standIn_->layout();
  layout->activate();
  const int width = standIn_->width();
  standIn_->setFixedHeight(layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                        : layout->totalSizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->availableGeometry();
    standIn_->move(r.right() - standIn_->width() - 10, r.bottom() - standIn_->height() - 10);
  }
}

void Tray::activated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger) singleClickLater();
  if (reason == QSystemTrayIcon::DoubleClick) doubleClick();
}

void Tray::singleClickLater() {
  // A single click counts only when no second click follows within the double-click time.
  clickTimer_.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void Tray::doubleClick() {
  clickTimer_.stop();
  run_("CoolTrayIcon1DblClick");
}

bool Tray::eventFilter(QObject* watched, QEvent* event) {
  (void)watched;
  if (event->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() == Qt::LeftButton) singleClickLater();
    if (me->button() == Qt::RightButton && model_.menuAttached()) {
      menu_->popup(me->globalPosition().toPoint());
    }
  }
  if (event->type() == QEvent::MouseButtonDblClick) doubleClick();
  return false;
}

void Tray::updateMenu() {
  for (auto& [name, action] : actions_) action->setVisible(model_.menuItemVisible(name));
  if (icon_) icon_->setContextMenu(model_.menuAttached() ? menu_ : nullptr);
}

void Tray::apply(const UiEvent& e) {
  using K = UiEvent::Kind;
  switch (e.kind) {
    case K::Hint:
      if (icon_) icon_->setToolTip(q(model_.trayTip()));
      if (standInTip_) {
        standInTip_->setText(lines(model_.trayTip()));
        placeStandIn();
      }
      break;
    case K::Balloon:
      if (icon_) icon_->showMessage(q(e.title), lines(e.text), trayIcon(e.icon), e.timeout * 1000);
      if (standInBalloon_) {
        standInBalloon_->setText("<b>" + q(e.title).toHtmlEscaped() + "</b><br>" +
                                 lines(e.text).toHtmlEscaped().replace('\n', "<br>"));
        standInBalloon_->show();
        placeStandIn();
        balloonTimer_.start(std::max(1, e.timeout) * 1000);
      }
      break;
    case K::BalloonHide:
      if (standInBalloon_) {
        standInBalloon_->hide();
        placeStandIn();
      }
      break;
    case K::TrayIcon:
      if (icon_) icon_->setVisible(e.flag);
      if (standIn_) standIn_->setVisible(e.flag);
      break;
    case K::Menu:
      updateMenu();
      break;
    default:
      break;
  }
}

}  // namespace dovra
