#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QWindowStateChangeEvent>
#include <string_view>

namespace dovra {
namespace {

QString q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

std::string s(const QString& text) {
  return text.toUtf8().toStdString();
}

// A time edit's text as the model holds it: the mask's blank places as blanks.
std::string timeEditModelText(const QLineEdit* edit) {
  return WindowModel::timeEditText(s(edit->displayText().replace('_', ' ')));
}

QColor colorOf(LabelColor c, const QPalette& palette) {
  switch (c) {
    case LabelColor::Highlight:
      return palette.color(QPalette::Highlight);
    case LabelColor::Red:
      return QColor(255, 0, 0);
    case LabelColor::Blue:
      return QColor(0, 0, 255);
    case LabelColor::Default:
      break;
  }
  return palette.color(QPalette::WindowText);
}

}  // namespace

MainWindow::MainWindow(WindowModel& model, std::function<void(const std::string&)> run)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      model_(model),
      run_(std::move(run)) {
  setObjectName(window_layout::kFormName);
  setWindowTitle(q(model.caption()));
  setFixedSize(window_layout::kClientWidth, window_layout::kClientHeight);
  pages_ = new QTabWidget(this);
  pages_->setObjectName(window_layout::kPageControlName);
  pages_->setGeometry(0, 0, window_layout::kClientWidth, window_layout::kClientHeight);
  for (const PageLayout& p : window_layout::pages()) {
    auto* page = new QWidget;
    page->setObjectName(p.name);
    Groups groups;
    for (const ControlLayout& c : window_layout::controls()) {
      if (std::string_view(c.page) == p.name) build(page, groups, c);
    }
    pages_->addTab(page, q(p.caption));
  }
  for (int i = 0; i < pages_->count(); ++i) {
    if (window_layout::pages()[static_cast<size_t>(i)].hidden) pages_->setTabVisible(i, false);
  }
  connect(pages_, &QTabWidget::currentChanged, this, &MainWindow::pageIndexChanged);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void MainWindow::build(QWidget* page, Groups& groups, const ControlLayout& c) {
  QWidget* parent = page;
  QRect at(c.x, c.y, c.w, c.h);
  for (auto g = groups.rbegin(); g != groups.rend(); ++g) {
    const QRect frame(g->second->x, g->second->y, g->second->w, g->second->h);
    if (frame.contains(at)) {
      parent = g->first;
      at.translate(-frame.topLeft());
      break;
    }
  }
  const std::string name = c.name;
  QWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::Group: {
      auto* group = new QGroupBox(q(c.caption), parent);
      groups.emplace_back(group, &c);
      w = group;
      break;
    }
    case ControlKind::Caption:
      w = new QLabel(q(c.caption), parent);
      break;
    case ControlKind::Label: {
      auto* l = new QLabel(q(c.caption), parent);
      if (c.has(look::kBold)) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
      }
      if (c.has(look::kLarge)) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        QFont f("Tahoma");
        f.setBold(true);
        f.setPixelSize(16);
        l->setFont(f);
      }
      if (c.color != LabelColor::Default) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, colorOf(c.color, palette()));
        l->setPalette(p);
      }
      if (c.trigger == Trigger::DoubleClick) {
        l->installEventFilter(this);
        doubleClicks_[l] = c.handler;
      }
      labels_[name] = l;
      w = l;
      break;
    }
    case ControlKind::Button: {
      auto* b = new QPushButton(q(c.caption), parent);
      if (c.has(look::kFolderIcon)) b->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
      const std::string handler = c.handler;
      connect(b, &QPushButton::clicked, this, [this, handler] { run_(handler); });
      w = b;
      break;
    }
    case ControlKind::Edit:
    case ControlKind::TimeEdit: {
      auto* e = new QLineEdit(parent);
      // A disabled edit is read-only as well: enabling it would not make it take typing.
      e->setReadOnly(c.has(look::kReadOnly) || c.has(look::kDisabled));
      if (c.has(look::kDisabled)) e->setEnabled(false);
      if (c.kind == ControlKind::TimeEdit) {
        // A masked time edit: an optional digit, a digit, the colon, two digits; "_" marks
        // the places still blank. The model holds the text with blanks ("  :  " when empty).
        e->setInputMask("09:99;_");
        e->setText(QString::fromStdString(WindowModel::timeEditText("")));
        e->installEventFilter(this);
      }
      edits_[name] = e;
      w = e;
      break;
    }
    case ControlKind::Memo: {
      auto* m = new QPlainTextEdit(parent);
      m->setReadOnly(true);
      if (c.has(look::kNoWrap)) m->setLineWrapMode(QPlainTextEdit::NoWrap);
      m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      if (c.trigger == Trigger::DoubleClick) {
        m->viewport()->installEventFilter(this);
        doubleClicks_[m->viewport()] = c.handler;
      }
      memos_[name] = m;
      w = m;
      break;
    }
    case ControlKind::Radio: {
      auto* rb = new QRadioButton(q(c.caption), parent);
      rb->setChecked(c.has(look::kChecked));
      rb->installEventFilter(this);
      connect(rb, &QRadioButton::toggled, this, [this, name](bool on) {
        if (on) model_.setChecked(name, true);
      });
      radios_[name] = rb;
      w = rb;
      break;
    }
    case ControlKind::Gauge:
      gauge_ = new QProgressBar(parent);
      gauge_->setRange(0, 100);
      gauge_->setValue(0);
      w = gauge_;
      break;
    case ControlKind::Panel:
      w = new QFrame(parent);
      break;
  }
  if (c.has(look::kAutoSize)) {
    w->move(at.topLeft());
    w->adjustSize();
  } else {
    w->setGeometry(at);
  }
  if (c.trigger == Trigger::Exit) exits_[name] = c.handler;
  if (!name.empty()) {
    w->setObjectName(q(name));
    controls_[name] = w;
  }
  if (c.hidden) w->hide();
}

void MainWindow::pageIndexChanged(int index) {
  if (!pages_->widget(index)) return;
  const PageLayout* page = window_layout::findPage(s(pages_->widget(index)->objectName()));
  if (page && *page->showHandler) run_(page->showHandler);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (const auto it = doubleClicks_.find(watched); it != doubleClicks_.end()) run_(it->second);
  }
  const std::string name = s(watched->objectName());
  const auto timeEdit = WindowModel::isTimeEdit(name) ? edits_.find(name) : edits_.end();
  if (event->type() == QEvent::KeyPress && timeEdit != edits_.end() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    model_.abandonEditChanges(name);
    return true;
  }
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Switching windows (or a box popping up) does not leave the control.
    const bool leaves = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
    if (timeEdit != edits_.end() && leaves) {
      model_.setEditText(name, timeEditModelText(timeEdit->second), true);
      if (const auto exit = exits_.find(name); exit != exits_.end()) run_(exit->second);
      // A refused text keeps its mark: the focus goes back into the edit.
      if (model_.editModified(name)) timeEdit->second->setFocus(Qt::OtherFocusReason);
    } else if (const auto exit = exits_.find(name); exit != exits_.end() && radios_.count(name)) {
      run_(exit->second);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window has no close button; a close request only hides it to the tray.
  event->ignore();
  run_("SpeedButton5Click");
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    run_("SpeedButton5Click");
  }
  QWidget::changeEvent(event);
}

void MainWindow::apply(const UiEvent& e) {
  using K = UiEvent::Kind;
  switch (e.kind) {
    case K::Caption:
      setWindowTitle(q(e.text));
      break;
    case K::Label:
      if (auto it = labels_.find(e.name); it != labels_.end()) {
        it->second->setText(q(e.text));
        QPalette p = it->second->palette();
        p.setColor(QPalette::WindowText, colorOf(e.color, palette()));
        it->second->setPalette(p);
      }
      break;
    case K::Memo:
      if (auto it = memos_.find(e.name); it != memos_.end()) it->second->appendPlainText(q(e.text));
      break;
    case K::MemoClear:
      if (auto it = memos_.find(e.name); it != memos_.end()) it->second->clear();
      break;
    case K::Control:
      if (auto it = controls_.find(e.name); it != controls_.end()) it->second->setVisible(e.flag);
      break;
    case K::Page:
      for (int i = 0; i < pages_->count(); ++i) {
        if (s(pages_->widget(i)->objectName()) == e.name) pages_->setTabVisible(i, e.flag);
      }
      break;
    case K::ActivePage:
      for (int i = 0; i < pages_->count(); ++i) {
        if (s(pages_->widget(i)->objectName()) == e.name) pages_->setCurrentIndex(i);
      }
      break;
    case K::Edit:
      if (auto it = edits_.find(e.name); it != edits_.end()) {
        if (WindowModel::isTimeEdit(e.name)) {
          if (timeEditModelText(it->second) != e.text) it->second->setText(q(e.text));
        } else if (s(it->second->text()) != e.text) {
          it->second->setText(q(e.text));
        }
      }
      break;
    case K::Radio: {
      const auto it = radios_.find(e.name);
      if (it == radios_.end()) break;
      // Unchecking one of the pair checks the other one of its group.
      QRadioButton* target = it->second;
      for (const auto& [name, other] : radios_) {
        if (!e.flag && other != it->second && other->parent() == it->second->parent()) {
          target = other;
        }
      }
      target->setChecked(true);
      break;
    }
    case K::Gauge:
      gauge_->setRange(0, std::max(1, e.maximum));
      gauge_->setValue(e.maximum > 0 ? e.value : 0);
      break;
    case K::Window:
      setWindowFlag(Qt::WindowStaysOnTopHint, e.topmost);
      if (e.flag) {
        showNormal();
        raise();
        activateWindow();
      } else {
        hide();
      }
      break;
    case K::Cursor:
      if (e.flag && !busy_) QApplication::setOverrideCursor(Qt::WaitCursor);
      if (!e.flag && busy_) QApplication::restoreOverrideCursor();
      busy_ = e.flag;
      break;
    default:
      break;
  }
}

}  // namespace dovra
