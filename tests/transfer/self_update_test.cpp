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

// The updater the server offers: it leaves a mark beside itself when it runs.
const std::string kUpdaterScript = "#!/bin/sh\necho started > \"$(dirname \"$0\")/updater-ran\"\n";

class SelfUpdateTest : public ::testing::Test {
 protected:
  SelfUpdateTest() {
    for (const char* sub : {"windows", "program", "ftp/exe", "web/atl"}) {
      fs::create_directories(dir.path() / sub);
    }
    writeFile(dir.path() / "ftp" / "exe" / "Renovador.exe", kUpdaterScript);
    ftpServer = std::make_unique<FtpTestServer>(dir.path() / "ftp");
    web = std::make_unique<HttpTestServer>(dir.path() / "web");
    envs.push_back(
        std::make_unique<ScopedEnv>("DOVRA_WINDOWS_DIR", (dir.path() / "windows").string()));
    envs.push_back(std::make_unique<ScopedEnv>("DOVRA_PROGRAM_DIR", programDir().string()));
    envs.push_back(std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", dir.path().string()));
    envs.push_back(std::make_unique<ScopedEnv>("DOVRA_FTP_HOST", "127.0.0.1"));
    envs.push_back(
        std::make_unique<ScopedEnv>("DOVRA_FTP_PORT", std::to_string(ftpServer->port())));
    envs.push_back(std::make_unique<ScopedEnv>("DOVRA_WEB_HOST", web->hostPort()));
    form = std::make_unique<TForm1>(loop, dialogs, clock);
    form->timerInicia.setEnabled(false);
    installTransferWorkers(*form);
    form->state().ProgramVersion = TForm1::kProgramVersion;
  }
  ~SelfUpdateTest() override {
    form.reset();
    while (!envs.empty()) envs.pop_back();
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
    while (std::chrono::steady_clock::now() < until) {
      if (fs::exists(programDir() / "updater-ran")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fs::exists(programDir() / "updater-ran");
  }
  bool sessionOpened() const { return ftpServer->log().find("logged in") != std::string::npos; }

  // Nothing happened: no download, no exit, no message, the tray icon in place.
  void expectNothingDone() {
    EXPECT_FALSE(fs::exists(updater()));
    EXPECT_FALSE(loop.exiting());
    EXPECT_TRUE(form->window().trayIconVisible());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(form->IdFTP1.Connected());
  }

  TempDir dir{"selfupdate"};
  std::unique_ptr<FtpTestServer> ftpServer;
  std::unique_ptr<HttpTestServer> web;
  std::vector<std::unique_ptr<ScopedEnv>> envs;
  PosixEventLoop loop;
  ScriptedDialogs dialogs;
  ManualClock clock;
  std::unique_ptr<TForm1> form;
};

TEST_F(SelfUpdateTest, ThePublishedVersionOrLowerChangesNothing) {
  for (const char* version : {"13", "12", "-5"}) {
    SCOPED_TRACE(version);
    publishVersion(version);
    form->Timer3Timer();
    expectNothingDone();
  }
  EXPECT_FALSE(sessionOpened());
  EXPECT_FALSE(form->Timer3.enabled());
  EXPECT_EQ(web->requests(), std::vector<std::string>(3, "/atl/atl_bkp.xml"));
}

TEST_F(SelfUpdateTest, ANewerVersionFetchesStartsTheUpdaterAndExits) {
  publishVersion(" 14 \n");
  writeFile(updater(), "an older updater left behind");
  ASSERT_TRUE(form->Timer3.enabled());

  form->Timer3Timer();

  EXPECT_FALSE(form->Timer3.enabled());
  EXPECT_EQ(readFile(updater()), kUpdaterScript);
  EXPECT_TRUE(updaterRan(std::chrono::seconds(5)));
  EXPECT_FALSE(form->window().trayIconVisible());
  EXPECT_TRUE(loop.exiting());
  EXPECT_FALSE(form->IdFTP1.Connected());  // the exit closed it
  EXPECT_TRUE(dialogs.shown.empty());
  // Nothing else in the program folder: the download went through a temporary.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(programDir())) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);
}

TEST_F(SelfUpdateTest, TheAtualizaButtonRunsTheCheckAtOnce) {
  publishVersion("20");
  form->SpeedButton12Click();
  EXPECT_TRUE(updaterRan(std::chrono::seconds(5)));
  EXPECT_TRUE(loop.exiting());
}

TEST_F(SelfUpdateTest, ABadDocumentOrNoServerChangesNothing) {
  const std::vector<std::string> documents = {
      "<dovrainformatica><versao>catorze</versao></dovrainformatica>",
      "<dovrainformatica><versao>14.5</versao></dovrainformatica>",
      "<dovrainformatica><outra>14</outra></dovrainformatica>",
      "<outro><versao>14</versao></outro>",
      "<dovrainformatica><versao>14</versao>",
      "not xml at all",
  };
  for (const std::string& document : documents) {
    SCOPED_TRACE(document);
    publish(document);
    form->Timer3Timer();
    expectNothingDone();
  }
  fs::remove(dir.path() / "web" / "atl" / "atl_bkp.xml");  // 404
  form->Timer3Timer();
  expectNothingDone();
  envs.push_back(std::make_unique<ScopedEnv>("DOVRA_WEB_HOST",
                                             "127.0.0.1:" + std::to_string(refusedLoopbackPort())));
  form->Timer3Timer();
  expectNothingDone();
  EXPECT_FALSE(sessionOpened());
}

TEST_F(SelfUpdateTest, ARunningUploadOrExportPutsTheUpdateOff) {
  publishVersion("14");
  form->state().FtpRunning.set(true);
  form->Timer3Timer();
  expectNothingDone();
  form->state().FtpRunning.set(false);

  form->state().XmlRunning.set(true);
  form->Timer3Timer();
  expectNothingDone();
  form->state().XmlRunning.set(false);

  // An upload that holds the session before it has set its flag.
  {
    std::lock_guard busy(form->IdFTP1.lock());
    form->Timer3Timer();
    expectNothingDone();
  }
  EXPECT_FALSE(sessionOpened());
}

TEST_F(SelfUpdateTest, ADownloadCutShortNeverStartsTheUpdater) {
  publishVersion("14");
  // clang-format off
  FaultFtpServer cut({
      reply("220 ready"), expect("USER copia_ftp_dovra"), reply("331 password?"),
      expect("PASS lotusgravelz2"), reply("230 ok"), expect("TYPE I"), reply("200 ok"),
      expect("SYST"), reply("215 UNIX"), expect("CWD /"), reply("250 ok"),
      expect("CWD exe"), reply("250 ok"), expect("PASV"), pasv(), acceptData(),
      expect("RETR Renovador.exe"),
      reply("150 Opening BINARY mode data connection (5000 bytes)."),
      sendData(std::string(2000, 'x')), pause(50), resetData(),
      reply("426 Connection reset."), waitForClose()});
  // clang-format on
  envs.push_back(std::make_unique<ScopedEnv>("DOVRA_FTP_PORT", std::to_string(cut.port())));
  writeFile(updater(), "an older updater left behind");

  form->Timer3Timer();

  EXPECT_EQ(cut.finish(), "");
  EXPECT_FALSE(updaterRan(std::chrono::milliseconds(300)));
  EXPECT_FALSE(fs::exists(updater()));  // the old one was removed, no part took its place
  EXPECT_TRUE(fs::is_empty(programDir()));
  EXPECT_FALSE(loop.exiting());
  EXPECT_TRUE(form->window().trayIconVisible());
  EXPECT_FALSE(form->IdFTP1.Connected());
}

TEST_F(SelfUpdateTest, AMissingUpdaterOnTheServerChangesNothing) {
  publishVersion("14");
  fs::remove_all(dir.path() / "ftp" / "exe");
  form->Timer3Timer();
  expectNothingDone();
  EXPECT_TRUE(sessionOpened());
}

TEST_F(SelfUpdateTest, AnUpdaterThatCannotStartLeavesTheProgramRunning) {
  publishVersion("14");
  writeFile(dir.path() / "ftp" / "exe" / "Renovador.exe", std::string("MZ\x90\0\3\0\0\0", 8));
  form->Timer3Timer();
  EXPECT_TRUE(fs::exists(updater()));
  EXPECT_FALSE(loop.exiting());
  EXPECT_TRUE(form->window().trayIconVisible());
  EXPECT_TRUE(dialogs.shown.empty());
}

}  // namespace
}  // namespace dovra::test
