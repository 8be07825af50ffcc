// The Qt front end on the offscreen platform: the window, its pages and named controls,
// and the tray stand-in, driven through the same form as the program.
#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

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
    EXPECT_TRUE(frontEnd.tray().standIn()->grab().save(
        QString::fromStdString((out / "tray_stand_in.png").string())));
  }
}

}  // namespace
}  // namespace dovra
