// The self-update check (Timer3Timer, "Atualiza") against a recording web server that
// publishes the version document and pyftpdlib serving the updater; the scripted fault
// server for a download cut short.
#include "transfer/self_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/fault_ftp_server.h"
#include "transfer/transfer_fixture.h"

namespace dovra::test {
namespace {

using namespace fault;
using namespace std::chrono_literals;

// The updater the server offers: it leaves a mark beside itself when it runs.
const std::string kUpdaterScript = "#!/bin/sh\necho started > \"$(dirname \"$0\")/updater-ran\"\n";

class SelfUpdateTest : public TransferWindow {
 protected:
  void SetUp() override {
    fs::create_directories(dir.path() / "ftp" / "exe");
    fs::create_directories(dir.path() / "web" / "atl");
    writeFile(dir.path() / "ftp" / "exe" / "Renovador.exe", kUpdaterScript);
    TransferWindow::SetUp();
  }

  void publish(const std::string& document) {
    writeFile(dir.path() / "web" / "atl" / "atl_bkp.xml", document);
  }
  void publishVersion(const std::string& text) {
    publish("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dovrainformatica><versao>" + text +
            "</versao></dovrainformatica>\n");
  }
  fs::path programDir() const { return dir.path() / "program"; }
  fs::path updater() const { return programDir() / "Renovador.exe"; }
  bool updaterRan(std::chrono::milliseconds wait) const {
    const auto until = std::chrono::steady_clock::now() + wait;
    while (!fs::exists(programDir() / "updater-ran") && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(20ms);
    }
    return fs::exists(programDir() / "updater-ran");
  }
  bool sessionOpened() const { return ftpServer->log().find("logged in") != std::string::npos; }

  // Nothing happened: no updater, no exit, no message, the tray icon in place.
  void expectNothingDone() {
    EXPECT_FALSE(fs::exists(updater()));
    EXPECT_FALSE(loop.exiting());
    EXPECT_TRUE(form->window().trayIconVisible());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(form->IdFTP1.Connected());
  }
};

// Documents that fail to parse are refused by the parser's own tests; here one of them
// stands for all.
TEST_F(SelfUpdateTest, NoNewerVersionOrNoServerChangesNothingAndOpensNoSession) {
  for (const char* version : {"13", "12", "-5"}) {
    SCOPED_TRACE(version);
    publishVersion(version);
    form->Timer3Timer();
    expectNothingDone();
  }
  EXPECT_FALSE(form->Timer3.enabled());
  EXPECT_EQ(web->requests(), std::vector<std::string>(3, "/atl/atl_bkp.xml"));
  publish("<dovrainformatica><versao>14</versao>");
  form->Timer3Timer();
  expectNothingDone();
  fs::remove(dir.path() / "web" / "atl" / "atl_bkp.xml");  // 404
  form->Timer3Timer();
  expectNothingDone();
  setEnv("DOVRA_WEB_HOST", "127.0.0.1:" + std::to_string(refusedLoopbackPort()));
  form->Timer3Timer();
  expectNothingDone();
  EXPECT_FALSE(sessionOpened());
}

TEST_F(SelfUpdateTest, ANewerVersionFetchesStartsTheUpdaterAndExits) {
  publishVersion(" 14 \n");
  writeFile(updater(), "an older updater left behind");
  ASSERT_TRUE(form->Timer3.enabled());

  form->Timer3Timer();

  EXPECT_FALSE(form->Timer3.enabled());
  EXPECT_EQ(readFile(updater()), kUpdaterScript);
  EXPECT_TRUE(updaterRan(5s));
  EXPECT_FALSE(form->window().trayIconVisible());
  EXPECT_TRUE(loop.exiting());
  EXPECT_FALSE(form->IdFTP1.Connected());  // the exit closed it
  EXPECT_TRUE(dialogs.shown.empty());
  // Nothing else in the program folder: the download went through a temporary.
  EXPECT_EQ(std::distance(fs::directory_iterator(programDir()), fs::directory_iterator()), 2);
}

TEST_F(SelfUpdateTest, TheAtualizaButtonRunsTheCheckAtOnce) {
  publishVersion("20");
  form->SpeedButton12Click();
  EXPECT_TRUE(updaterRan(5s));
  EXPECT_TRUE(loop.exiting());
}

TEST_F(SelfUpdateTest, ARunningUploadOrExportPutsTheUpdateOff) {
  publishVersion("14");
  for (RunFlag* running : {&form->state().FtpRunning, &form->state().XmlRunning}) {
    running->set(true);
    form->Timer3Timer();
    expectNothingDone();
    running->set(false);
  }
  // An upload that holds the session before it has set its flag.
  {
    std::lock_guard busy(form->IdFTP1.lock());
    form->Timer3Timer();
    expectNothingDone();
  }
  EXPECT_FALSE(sessionOpened());
}

TEST_F(SelfUpdateTest, AnUpdaterThatIsMissingOrCutShortOrCannotStartLeavesTheProgramRunning) {
  publishVersion("14");
  {
    SCOPED_TRACE("missing on the server");
    fs::rename(dir.path() / "ftp" / "exe", dir.path() / "ftp" / "away");
    form->Timer3Timer();
    expectNothingDone();
    EXPECT_TRUE(sessionOpened());
    fs::rename(dir.path() / "ftp" / "away", dir.path() / "ftp" / "exe");
  }
  {
    SCOPED_TRACE("cut short");
    // clang-format off
    FaultFtpServer cut(login() + std::vector<Step>{expect("CWD /"), reply("250 ok"),
        expect("CWD exe"), reply("250 ok"), expect("PASV"), pasv(), acceptData(),
        expect("RETR Renovador.exe"),
        reply("150 Opening BINARY mode data connection (5000 bytes)."),
        sendData(std::string(2000, 'x')), pause(50), resetData(),
        reply("426 Connection reset."), waitForClose()});
    // clang-format on
    useUploadServer(cut.port());
    writeFile(updater(), "an older updater left behind");
    form->Timer3Timer();
    EXPECT_EQ(cut.finish(), "");
    EXPECT_FALSE(updaterRan(300ms));
    EXPECT_TRUE(fs::is_empty(programDir()));  // the old one removed, no part in its place
    expectNothingDone();
    envs.pop_back();
  }
  {
    SCOPED_TRACE("cannot start");
    writeFile(dir.path() / "ftp" / "exe" / "Renovador.exe", std::string("MZ\x90\0\3\0\0\0", 8));
    form->Timer3Timer();
    EXPECT_TRUE(fs::exists(updater()));
    EXPECT_FALSE(loop.exiting());
    EXPECT_TRUE(form->window().trayIconVisible());
    EXPECT_TRUE(dialogs.shown.empty());
  }
}

}  // namespace
}  // namespace dovra::test
