// The Qt front end on the offscreen platform: the window, its pages and named controls,
// and the tray stand-in, driven through the same form as the program.
#include <gtest/gtest.h>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <filesystem>

#include "core/window_layout.h"
#include "form/form1.h"
#include "gui/main_window.h"
#include "gui/qt_event_loop.h"
#include "gui/qt_program.h"
#include "gui/tray.h"
#include "platform/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

class QtWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
  }
  QtWindowTest() : form(loop, dialogs, clock), frontEnd(form) {}

  template <typename T>
  T* find(const char* name) {
    return frontEnd.window().findChild<T*>(name);
  }

  static QApplication* app;
  QtEventLoop loop;
  test::ScriptedDialogs dialogs;
  test::ManualClock clock;
  TForm1 form;
  QtFrontEnd frontEnd;
};
QApplication* QtWindowTest::app = nullptr;

TEST_F(QtWindowTest, WindowHasItsCaptionSizePagesAndNamedControls) {
  MainWindow& w = frontEnd.window();
  EXPECT_EQ(w.windowTitle(), "BackUp Dovra Informática");
  EXPECT_EQ(w.size(), QSize(663, 308));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  QTabWidget* pages = w.pages();
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->tabText(0), "Backup");
  EXPECT_EQ(pages->tabText(1), "Configuração");
  EXPECT_EQ(pages->tabText(2), "Descompactar");
  EXPECT_FALSE(pages->isTabVisible(1));
  EXPECT_FALSE(w.isVisible());  // the program starts in the tray
  for (const char* name : {"lbDataHora", "lbDiretorio", "lbArquivo", "lbStatus", "lbProgresso",
                           "lbDecompress", "lbStatusDecompres", "Label8", "Label14"}) {
    EXPECT_NE(find<QLabel>(name), nullptr) << name;
  }
  for (const char* name :
       {"spbBackup", "SpeedButton5", "SpeedButton4", "SpeedButton3", "SpeedButton12",
        "SpeedButton6", "SpeedButton7", "SpeedButton1", "SpeedButton2", "SpeedButton8",
        "SpeedButton9", "SpeedButton13", "SpeedButton10", "SpeedButton11"}) {
    EXPECT_NE(find<QPushButton>(name), nullptr) << name;
  }
  EXPECT_EQ(find<QPushButton>("spbBackup")->text(), "Backup Manual");
  EXPECT_EQ(find<QPushButton>("SpeedButton11")->text(), "Descompactar");
  EXPECT_FALSE(find<QLineEdit>("Edit3")->isEnabled());
  EXPECT_NE(find<QProgressBar>("Gauge1"), nullptr);
  EXPECT_NE(find<QPlainTextEdit>("MemoBackup"), nullptr);
  EXPECT_NE(find<QPlainTextEdit>("mLog"), nullptr);
}

// What the window's description says, read back from the widgets of a page: the page's
// own children and those of its group boxes, in page coordinates.
struct Built {
  std::string name, caption, kind;
  QRect geometry;
  bool hidden;
};

std::string kindOf(const QWidget* w) {
  if (qobject_cast<const QGroupBox*>(w)) return "group";
  if (qobject_cast<const QPushButton*>(w)) return "button";
  if (qobject_cast<const QRadioButton*>(w)) return "radio";
  if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
    return e->inputMask().isEmpty() ? "edit" : "time edit";
  }
  if (qobject_cast<const QPlainTextEdit*>(w)) return "memo";
  if (qobject_cast<const QProgressBar*>(w)) return "gauge";
  if (qobject_cast<const QLabel*>(w)) return w->objectName().isEmpty() ? "caption" : "label";
  return "panel";
}

std::string kindOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Group:
      return "group";
    case ControlKind::Caption:
      return "caption";
    case ControlKind::Label:
      return "label";
    case ControlKind::Button:
      return "button";
    case ControlKind::Edit:
      return "edit";
    case ControlKind::TimeEdit:
      return "time edit";
    case ControlKind::Memo:
      return "memo";
    case ControlKind::Radio:
      return "radio";
    case ControlKind::Gauge:
      return "gauge";
    case ControlKind::Panel:
      break;
  }
  return "panel";
}

std::string captionOf(const QWidget* w) {
  if (const auto* g = qobject_cast<const QGroupBox*>(w)) return g->title().toStdString();
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text().toStdString();
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text().toStdString();
  return "";
}

std::vector<Built> builtOn(QWidget* page) {
  std::vector<Built> out;
  for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    out.push_back({w->objectName().toStdString(), captionOf(w), kindOf(w),
                   QRect(w->mapTo(page, QPoint(0, 0)), w->size()), w->isHidden()});
    if (qobject_cast<QGroupBox*>(w)) {
      for (QWidget* inner : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        out.push_back({inner->objectName().toStdString(), captionOf(inner), kindOf(inner),
                       QRect(inner->mapTo(page, QPoint(0, 0)), inner->size()), inner->isHidden()});
      }
    }
  }
  return out;
}

TEST_F(QtWindowTest, WindowHoldsWhatItsDescriptionSaysAndNothingElse) {
  QTabWidget* pages = frontEnd.window().pages();
  ASSERT_EQ(pages->count(), static_cast<int>(window_layout::pages().size()));
  for (int i = 0; i < pages->count(); ++i) {
    const PageLayout& p = window_layout::pages()[static_cast<size_t>(i)];
    SCOPED_TRACE(p.name);
    EXPECT_EQ(pages->widget(i)->objectName().toStdString(), p.name);
    EXPECT_EQ(pages->tabText(i).toStdString(), p.caption);
    EXPECT_EQ(pages->isTabVisible(i), !p.hidden);
    std::vector<Built> built = builtOn(pages->widget(i));
    size_t described = 0;
    for (const ControlLayout& c : window_layout::controls()) {
      if (std::string(c.page) != p.name) continue;
      ++described;
      const std::string what = *c.name ? c.name : c.caption;
      const QRect at(c.x, c.y, c.w, c.h);
      const auto match = std::find_if(built.begin(), built.end(), [&](const Built& b) {
        if (*c.name) return b.name == c.name;
        return b.name.empty() && b.caption == c.caption && b.geometry.topLeft() == at.topLeft();
      });
      ASSERT_NE(match, built.end()) << what;
      EXPECT_EQ(match->kind, kindOf(c.kind)) << what;
      EXPECT_EQ(match->caption, c.caption) << what;
      EXPECT_EQ(match->hidden, c.hidden) << what;
      // A control sized to its text keeps only its corner.
      if (c.has(look::kAutoSize)) {
        EXPECT_EQ(match->geometry.topLeft(), at.topLeft()) << what;
      } else {
        EXPECT_EQ(match->geometry, at) << what;
      }
      built.erase(match);
    }
    EXPECT_GT(described, 0u);
    for (const Built& extra : built) {
      ADD_FAILURE() << "not described: " << extra.kind << " \"" << extra.name << "\" \""
                    << extra.caption << "\"";
    }
  }
}

// Every control with a handler runs it from the widget: a click on the buttons, a
// double-click on the label and the memo, leaving the edits and radio buttons.
TEST_F(QtWindowTest, EachDescribedHandlerIsWiredToItsControl) {
  std::vector<std::string> ran;
  MainWindow window(form.window(), [&](const std::string& h) { ran.push_back(h); });
  for (const ControlLayout& c : window_layout::controls()) {
    if (c.trigger != Trigger::Click) continue;
    ran.clear();
    window.findChild<QPushButton*>(c.name)->click();
    EXPECT_EQ(ran, std::vector<std::string>{c.handler}) << c.name;
  }
  for (const ControlLayout& c : window_layout::controls()) {
    if (c.trigger != Trigger::DoubleClick) continue;
    ran.clear();
    QWidget* w = window.findChild<QWidget*>(c.name);
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) w = memo->viewport();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &dbl);
    EXPECT_EQ(ran, std::vector<std::string>{c.handler}) << c.name;
  }
  for (const ControlLayout& c : window_layout::controls()) {
    if (c.trigger != Trigger::Exit) continue;
    ran.clear();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(window.findChild<QWidget*>(c.name), &out);
    EXPECT_EQ(ran, std::vector<std::string>{c.handler}) << c.name;
  }
}

TEST_F(QtWindowTest, ModelChangesRepaintTheWindowAndClicksReachTheForm) {
  form.window().setHint("BackUp Dovra \rEmpresa: Teste");
  form.window().setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
  form.window().memoAdd("MemoBackup", "gbak: writing table CLIENTES");
  form.window().setCaption("BackUp Dovra Informática - LOJA - Versão: 13");
  EXPECT_EQ(find<QLabel>("lbStatus")->text(), "Erro - Verificar log");
  EXPECT_EQ(find<QLabel>("lbStatus")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(find<QPlainTextEdit>("MemoBackup")->toPlainText(), "gbak: writing table CLIENTES");
  EXPECT_EQ(frontEnd.window().windowTitle(), "BackUp Dovra Informática - LOJA - Versão: 13");
  // "LOG" double-clicked reveals the hidden buttons; the memo reveals the settings page.
  form.runHandler("Label8DblClick");
  form.runHandler("MemoBackupDblClick");
  EXPECT_FALSE(find<QPushButton>("SpeedButton4")->isHidden());
  EXPECT_TRUE(frontEnd.window().pages()->isTabVisible(1));
  form.runHandler("CoolTrayIcon1DblClick");
  EXPECT_TRUE(frontEnd.window().isVisible());
  find<QPushButton>("SpeedButton5")->click();  // "Sair" hides the window only
  EXPECT_FALSE(frontEnd.window().isVisible());
}

// The Qt time edits are masked edits: "  :  " when empty, an untouched empty edit writes
// that text on leaving, a refused text keeps the focus, and Escape abandons the change.
TEST_F(QtWindowTest, TimeEditsBehaveAsMaskedEdits) {
  test::TempDir dir;
  test::ScopedEnv windows("DOVRA_WINDOWS_DIR", dir.path().string());
  const std::string file = dir.file("BKPDOVRA.dvk");
  test::writeFile(file, "[backup]\r\ntempo1=09:30\r\n");
  form.state().InstallationId = "BKPDOVRA";
  form.runHandler("MemoBackupDblClick");
  form.runHandler("CoolTrayIcon1DblClick");
  frontEnd.window().pages()->setCurrentIndex(1);
  frontEnd.window().activateWindow();
  QApplication::processEvents();
  ASSERT_TRUE(frontEnd.window().isActiveWindow());
  auto* e1 = find<QLineEdit>("MaskEdit1");
  auto* e2 = find<QLineEdit>("MaskEdit2");
  auto* e3 = find<QLineEdit>("MaskEdit3");
  EXPECT_EQ(e1->displayText(), "09:30");
  EXPECT_EQ(e3->displayText(), "__:__");
  EXPECT_EQ(form.window().editText("MaskEdit3"), "  :  ");

  // Leaving the untouched empty edit writes the mask's blank text.
  e3->setFocus(Qt::TabFocusReason);
  e2->setFocus(Qt::TabFocusReason);
  EXPECT_NE(test::readFile(file).find("tempo3=  :  \r\n"), std::string::npos)
      << test::readFile(file);

  // An incomplete time is refused: the box, the focus back in the edit, nothing written.
  e1->setFocus(Qt::TabFocusReason);
  e1->setText("1");  // typed over: "1_:__"
  e2->setFocus(Qt::TabFocusReason);
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(dialogs.shown.back().text, "Invalid input value.  Use escape key to abandon changes");
  EXPECT_TRUE(e1->hasFocus());
  EXPECT_EQ(ProfileFile(file).readString("backup", "tempo1"), "09:30");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(e1, &escape);
  EXPECT_EQ(e1->displayText(), "09:30");
  e2->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(ProfileFile(file).readString("backup", "tempo1"), "09:30");
}

TEST_F(QtWindowTest, ScreenshotOfTheWindowAndTheTrayStandIn) {
  form.window().setHint("BackUp Dovra \rEmpresa: LOJA EXEMPLO - EXEMPLO\r\rBackup do dia pendente");
  form.window().setLabel("lbDataHora", "08/12/26 - 09:30:12");
  form.window().setLabel("lbDiretorio", "/srv/backup/");
  form.window().setLabel("lbArquivo", "ERP, NFE");
  form.window().setLabel("lbStatus", "Backup realizado com sucesso", LabelColor::Highlight);
  form.window().memoAdd("MemoBackup", "gbak:readied database /var/lib/erp/ERP.FDB for backup");
  form.window().memoAdd("MemoBackup",
                        "Copia realizada com sucesso para localhost:/var/lib/erp/ERP.FDB");
  form.showMainWindow();
  QApplication::processEvents();
  const std::filesystem::path out = std::filesystem::path(DOVRA_BINARY_DIR) / "test-artifacts";
  std::filesystem::create_directories(out);
  const QPixmap shot = frontEnd.window().grab();
  EXPECT_EQ(shot.size(), QSize(663, 308));
  EXPECT_TRUE(shot.save(QString::fromStdString((out / "main_window.png").string())));
  if (frontEnd.tray().usesStandIn()) {
    form.window().showBalloon("BackUp Dovra", "BackUp em andamento", BalloonIcon::Information, 10);
    QApplication::processEvents();
    EXPECT_TRUE(frontEnd.tray().standIn()->isVisible());
    // A hint that grows while shown, with a line longer than the stand-in is wide: the
    // hint's and the balloon's wrapped lines show whole.
    form.window().setHint(
        "BackUp Dovra \rEmpresa: DOVRA COMÉRCIO DE PEÇAS E ACESSÓRIOS LTDA - DOVRA PEÇAS"
        "\r\rBackup do dia realizado com sucesso\rBackup verificado: 10/12/26 - 09:31:05");
    QApplication::processEvents();
    for (const QLabel* text : frontEnd.tray().standIn()->findChildren<QLabel*>()) {
      if (!text->isVisible() || !text->wordWrap()) continue;
      EXPECT_GE(text->height(), text->heightForWidth(text->width())) << text->text().toStdString();
    }
    EXPECT_TRUE(frontEnd.tray().standIn()->grab().save(
        QString::fromStdString((out / "tray_stand_in.png").string())));
  }
}

}  // namespace
}  // namespace dovra
