// A main window wired with the transfer workers, against the real things: the sample ERP
// on the Firebird server, two pyftpdlib servers standing for the maker's upload (5510)
// and NF-e (5521) services, and a recording HTTP server standing for its web server. The
// environment points the program at them ($DOVRA_FTP_HOST, $DOVRA_FTP_PORT,
// $DOVRA_NFE_FTP_PORT, $DOVRA_WEB_HOST) and at fresh settings and program folders. The
// clock stands at 13:00 of the real today, so the database's current_date is "today".
//
// The connections are left as the start sequence leaves them: Banco closed with its
// location and credentials in place, banconfe open with tnfe started.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firebird/erp_connections.h"
#include "firebird/ib_database.h"
#include "firebird/ib_query.h"
#include "form/form1.h"
#include "form/transfer_workers.h"
#include "platform/clock.h"
#include "platform/posix_event_loop.h"
#include "support/fakes.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"
#include "support/test_servers.h"
#include "transfer/cnpj_folder.h"
#include "transfer/daily_upload.h"
#include "transfer/nfe_export.h"

namespace dovra::test {

namespace fs = std::filesystem;

// Keeps the run outcomes the workers report. Main thread.
struct ReportLog : UiObserver {
  void onUiEvent(const UiEvent&) override {}
  void onRunReport(const RunReport& r) override { reports.push_back(r); }
  std::vector<RunReport> reports;
};

// The main window with the transfer workers installed, the three servers and the
// environment pointing the program at them, without a database.
class TransferWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"windows", "program", "backup", "ftp", "nfeftp", "web", "xml"}) {
      fs::create_directories(dir.path() / sub);
    }
    ftpServer = std::make_unique<FtpTestServer>(dir.path() / "ftp");
    nfeServer = std::make_unique<FtpTestServer>(dir.path() / "nfeftp");
    web = std::make_unique<HttpTestServer>(dir.path() / "web");
    setEnv("DOVRA_WINDOWS_DIR", (dir.path() / "windows").string());
    setEnv("DOVRA_PROGRAM_DIR", (dir.path() / "program").string());
    setEnv("XDG_RUNTIME_DIR", dir.path().string());
    setEnv("DOVRA_INSTANCE_SCOPE", dir.path().string());
    setEnv("DOVRA_FTP_HOST", "127.0.0.1");
    useUploadServer(ftpServer->port());
    useNfeServer(nfeServer->port());
    setEnv("DOVRA_WEB_HOST", web->hostPort());
    const LocalDateTime now = SystemClock().now();
    clock.set(ManualClock::at(now.year, now.month, now.day, 13, 0, 0));
    form = std::make_unique<TForm1>(loop, dialogs, clock);
    form->timerInicia.setEnabled(false);
    installTransferWorkers(*form);
    form->window().setObserver(&outcomes);
    form->state().ProgramVersion = TForm1::kProgramVersion;
  }

  void TearDown() override {
    // Workers started through the launcher must end before the form goes.
    for (int i = 0;
         form && i < 600 &&
         (form->launcher().running(WorkerKind::TFTP) || form->launcher().running(WorkerKind::TXML));
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    form.reset();
    while (!envs.empty()) envs.pop_back();
  }

  void setEnv(const std::string& name, const std::string& value) {
    envs.push_back(std::make_unique<ScopedEnv>(name, value));
  }
  // Points the upload service at another port (a scripted fault server, a refused port).
  void useUploadServer(int port) { setEnv("DOVRA_FTP_PORT", std::to_string(port)); }
  void useNfeServer(int port) { setEnv("DOVRA_NFE_FTP_PORT", std::to_string(port)); }

  std::vector<std::string> log() const { return form->window().memoLines("mLog"); }
  std::string archivePath() const { return (dir.path() / "backup" / "ERP.zlib").string(); }
  void writeArchive(const std::string& bytes) { writeFile(archivePath(), bytes); }

  // The company folder on the upload server and in its NF-e tree for company 1's CNPJ.
  static std::string company1Folder() { return cleanCnpj(*sampleCnpj(1, CnpjStyle::Formatted)); }
  fs::path uploadFolder(const std::string& folder) const { return dir.path() / "ftp" / folder; }

  void runUpload() {
    TFTP(form->workerContext(), erpAccess(*form), form->IdFTP1, form->state().snapshot()).Execute();
  }
  void runExport() {
    TXML(form->workerContext(), erpAccess(*form), form->IdFTPNFE, form->state().snapshot())
        .Execute();
  }

  // The date reports received by the web server, in order.
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const std::string& r : web->requests()) {
      if (r.rfind("/atl/updataBkp.php", 0) == 0) out.push_back(r);
    }
    return out;
  }
  std::string todayText() const { return formatShortDate(clock.now()); }

  TempDir dir{"transfer"};
  std::unique_ptr<FtpTestServer> ftpServer;
  std::unique_ptr<FtpTestServer> nfeServer;
  std::unique_ptr<HttpTestServer> web;
  std::vector<std::unique_ptr<ScopedEnv>> envs;
  PosixEventLoop loop;
  ScriptedDialogs dialogs;
  ManualClock clock;
  std::unique_ptr<TForm1> form;
  ReportLog outcomes;
};

// The window over the sample ERP on the Firebird server, its connections left as the start
// sequence leaves them.
class TransferTest : public TransferWindow {
 protected:
  void SetUp() override {
    useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    sample = std::make_unique<TestErp>(env, [](SampleErpOptions& o) { o.unsentNfe = 0; });
    TransferWindow::SetUp();
    form->Timer3.setEnabled(false);
    RunState& s = form->state();
    s.DatabasePath = sample->erp().mainLocation;
    s.DatabaseBaseName = "ERP";
    s.NfeDatabasePath = sample->erp().nfeLocation;
    s.NfeDatabaseBaseName = "ERP_NFE";
    s.NfeEnabled = true;
    s.DbUser = env.user;
    s.DbPassword = env.password;
    s.BackupFolder = (dir.path() / "backup").string() + "/";
    s.XmlFolder = (dir.path() / "xml").string() + "/NFe/Xmls/Xmls";
    ErpConnections& db = form->erp();
    {
      std::lock_guard lock(db.Banco.lock());
      connectDatabase(db.Banco, s.DatabasePath, s.DbUser, s.DbPassword);
      db.Banco.Close();
    }
    {
      std::lock_guard lock(db.banconfe.lock());
      connectDatabase(db.banconfe, s.NfeDatabasePath, s.DbUser, s.DbPassword);
      db.tnfe.StartTransaction();
    }
  }

  // Runs a statement on the main (or NF-e) database in a connection of its own, committed.
  void mainSql(const std::string& statement) {
    execSql(sample->erp().mainLocation, env, statement);
  }
  void nfeSql(const std::string& statement) { execSql(sample->erp().nfeLocation, env, statement); }
  std::string uploadDate() {
    return queryValue(sample->erp().mainLocation, env, "select PRGDATAFTP from PARGERAL");
  }
  std::string serverToday() {
    return queryValue(sample->erp().mainLocation, env, "select current_date from rdb$database");
  }

  FirebirdEnv env;
  std::unique_ptr<TestErp> sample;
};

}  // namespace dovra::test
