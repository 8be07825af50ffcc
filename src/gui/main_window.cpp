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
  setObjectName("Form1");
  setWindowTitle(q(model.caption()));
  setFixedSize(663, 308);
  pages_ = new QTabWidget(this);
  pages_->setObjectName("PageControl1");
  pages_->setGeometry(0, 0, 663, 308);
  pages_->addTab(buildBackupPage(), "Backup");
  pages_->addTab(buildSettingsPage(), "Configuração");
  pages_->addTab(buildUnpackPage(), "Descompactar");
  pages_->setTabVisible(1, false);
  connect(pages_, &QTabWidget::currentChanged, this, &MainWindow::pageIndexChanged);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

QLabel* MainWindow::label(QWidget* parent, const char* name, const QString& text, int x, int y,
                          int w, int h) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  if (w < 0) {
    l->move(x, y);
    l->adjustSize();
  } else {
    l->setGeometry(x, y, w, h);
  }
  labels_[name] = l;
  controls_[name] = l;
  return l;
}

QPushButton* MainWindow::button(QWidget* parent, const char* name, const QString& text,
                                const char* handler, int x, int y, int w, int h) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setGeometry(x, y, w, h);
  const std::string h2 = handler;
  connect(b, &QPushButton::clicked, this, [this, h2] { run_(h2); });
  controls_[name] = b;
  return b;
}

QLineEdit* MainWindow::edit(QWidget* parent, const char* name, int x, int y, int w, bool readOnly) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setGeometry(x, y, w, 22);
  e->setReadOnly(readOnly);
  edits_[name] = e;
  controls_[name] = e;
  return e;
}

QWidget* MainWindow::buildBackupPage() {
  auto* page = new QWidget;
  page->setObjectName("tbsbackup");
  auto* group = new QGroupBox(" Informações sobre o ultimo BackUp ", page);
  group->setObjectName("GroupBox3");
  group->setGeometry(6, 4, 384, 112);
  const char* captions[] = {"Data/Hora ", "Diretório ", "Arquivo ", "Status "};
  const char* values[] = {"lbDataHora", "lbDiretorio", "lbArquivo", "lbStatus"};
  for (int i = 0; i < 4; ++i) {
    auto* c = new QLabel(captions[i], group);
    c->setGeometry(10, 22 + i * 22, 70, 18);
    QLabel* v = label(group, values[i], "", 82, 22 + i * 22, 294, 18);
    QFont f = v->font();
    f.setBold(true);
    v->setFont(f);
  }
  button(page, "spbBackup", "Backup Manual", "spbBackupClick", 400, 10, 124, 40);
  button(page, "SpeedButton5", "Sair", "SpeedButton5Click", 530, 10, 120, 40);
  button(page, "SpeedButton4", "Backup", "SpeedButton4Click", 400, 56, 78, 24)->hide();
  button(page, "SpeedButton3", "FTP", "SpeedButton3Click", 484, 56, 78, 24)->hide();
  button(page, "SpeedButton12", "Atualiza", "SpeedButton12Click", 568, 56, 82, 24)->hide();
  label(page, "lbProgresso", "Progresso", 400, 84, 250, 14)->hide();
  gauge_ = new QProgressBar(page);
  gauge_->setObjectName("Gauge1");
  gauge_->setGeometry(400, 99, 250, 16);
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  gauge_->hide();
  controls_["Gauge1"] = gauge_;
  QLabel* log = label(page, "Label8", "LOG", 8, 120);
  log->installEventFilter(this);
  auto* memo = new QPlainTextEdit(page);
  memo->setObjectName("MemoBackup");
  memo->setGeometry(6, 138, 646, 138);
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->viewport()->installEventFilter(this);
  memos_["MemoBackup"] = memo;
  return page;
}

QWidget* MainWindow::buildSettingsPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet3");
  auto* schedule = new QGroupBox(" Programar BackUp automático ", page);
  schedule->setGeometry(6, 2, 200, 52);
  // A masked time edit: an optional digit, a digit, the colon, two digits; "_" marks the
  // places still blank. The model holds the text with blanks ("  :  " when empty).
  const auto timeEdit = [&](QWidget* parent, const char* name, int x) {
    QLineEdit* e = edit(parent, name, x, 22, 56, false);
    e->setInputMask("09:99;_");
    e->setText(QString::fromStdString(WindowModel::timeEditText("")));
    e->installEventFilter(this);
    return e;
  };
  (new QLabel("1º", schedule))->setGeometry(8, 24, 18, 18);
  timeEdit(schedule, "MaskEdit1", 26);
  (new QLabel("2º", schedule))->setGeometry(100, 24, 18, 18);
  timeEdit(schedule, "MaskEdit2", 118);
  auto* ftp = new QGroupBox(" Hora FTP ", page);
  ftp->setGeometry(212, 2, 86, 52);
  timeEdit(ftp, "MaskEdit3", 14);
  auto* place = new QGroupBox("Local/Remoto", page);
  place->setGeometry(304, 2, 160, 52);
  rbLocal_ = new QRadioButton("Local", place);
  rbLocal_->setObjectName("rbLocal");
  rbLocal_->setGeometry(10, 24, 64, 20);
  rbLocal_->setChecked(true);
  rbRemoto_ = new QRadioButton("Remoto", place);
  rbRemoto_->setObjectName("rbRemoto");
  rbRemoto_->setGeometry(80, 24, 74, 20);
  for (QRadioButton* rb : {rbLocal_, rbRemoto_}) {
    rb->installEventFilter(this);
    connect(rb, &QRadioButton::toggled, this, [this, rb](bool on) {
      if (on) model_.setChecked(s(rb->objectName()), true);
    });
  }
  button(page, "SpeedButton13", "Inicia com o Windows", "SpeedButton13Click", 472, 12, 178, 34);

  struct FolderRow {
    const char* caption;
    const char* edit;
    const char* picker;
    const char* pickHandler;
    const char* clear;
    const char* clearHandler;
  };
  const FolderRow rows[] = {
      {"Caminho backup manual", "Edit1", "SpeedButton6", "SpeedButton6Click", "SpeedButton7",
       "SpeedButton7Click"},
      {"Cópia extra para (opcional)", "Edit4", "SpeedButton1", "SpeedButton1Click", "SpeedButton2",
       "SpeedButton2Click"},
      {"Caminho backup automático", "Edit2", "SpeedButton8", "SpeedButton8Click", "SpeedButton9",
       "SpeedButton9Click"},
  };
  int y = 58;
  for (const FolderRow& r : rows) {
    (new QLabel(r.caption, page))->setGeometry(8, y, 300, 16);
    edit(page, r.edit, 8, y + 16, 520, true);
    button(page, r.picker, "...", r.pickHandler, 532, y + 16, 30, 22);
    button(page, r.clear, "Limpar", r.clearHandler, 566, y + 16, 84, 22);
    y += 42;
  }
  auto* log = new QPlainTextEdit(page);
  log->setObjectName("mLog");
  log->setGeometry(6, 186, 646, 90);
  log->setReadOnly(true);
  log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memos_["mLog"] = log;
  return page;
}

QWidget* MainWindow::buildUnpackPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet4");
  label(page, "Label14", "Caminho arquivo compactado (zlib)", 8, 8);
  QLineEdit* path = edit(page, "Edit3", 8, 26, 560, true);
  path->setEnabled(false);
  QPushButton* pick = button(page, "SpeedButton10", "", "SpeedButton10Click", 572, 25, 32, 24);
  pick->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  button(page, "SpeedButton11", "Descompactar", "SpeedButton11Click", 8, 58, 140, 32);
  for (const auto& [name, x, w] :
       {std::tuple{"lbDecompress", 156, 300}, std::tuple{"lbStatusDecompres", 462, 90}}) {
    QLabel* l = label(page, name, "", x, 58, w, 32);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QFont f("Tahoma");
    f.setBold(true);
    f.setPixelSize(16);
    l->setFont(f);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    l->setPalette(p);
  }
  auto* restore = new QPlainTextEdit(page);
  restore->setObjectName("memoRestore");
  restore->setGeometry(6, 98, 646, 178);
  restore->setReadOnly(true);
  restore->setLineWrapMode(QPlainTextEdit::NoWrap);
  restore->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  restore->hide();
  memos_["memoRestore"] = restore;
  controls_["memoRestore"] = restore;
  auto* panel = new QFrame(page);
  panel->setObjectName("Panel1");
  panel->hide();
  controls_["Panel1"] = panel;
  return page;
}

void MainWindow::pageIndexChanged(int index) {
  if (pages_->widget(index) && pages_->widget(index)->objectName() == "TabSheet3") {
    run_("TabSheet3Show");
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == labels_["Label8"]) run_("Label8DblClick");
    if (watched == memos_["MemoBackup"]->viewport()) run_("MemoBackupDblClick");
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
      run_(name + "Exit");
      // A refused text keeps its mark: the focus goes back into the edit.
      if (model_.editModified(name)) timeEdit->second->setFocus(Qt::OtherFocusReason);
    } else if (name == "rbLocal" || name == "rbRemoto") {
      run_(name + "Exit");
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
      QRadioButton* rb = e.name == "rbLocal" ? rbLocal_ : rbRemoto_;
      QRadioButton* other = rb == rbLocal_ ? rbRemoto_ : rbLocal_;
      (e.flag ? rb : other)->setChecked(true);
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
