// Backups through the real service manager and the errors the callers see. (Backups over
// TCP are driven by the automatic and manual backups' tests, restores by the restore
// dialogue's.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "firebird/ib_service.h"
#include "firebird/service_target.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using test::errorText;
using test::TestErp;

// Attach, start, read until the end, detach: the calling order every caller uses. The
// returned lines include the final empty one.
std::vector<std::string> runService(TIBControlAndQueryService& svc) {
  std::vector<std::string> lines;
  svc.Attach();
  try {
    svc.ServiceStart();
    while (!svc.OutputFinished()) lines.push_back(svc.ReadOutputLine());
  } catch (...) {
    svc.Detach();
    throw;
  }
  svc.Detach();
  return lines;
}

size_t countContaining(const std::vector<std::string>& lines, const std::string& text) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.find(text) != std::string::npos;
  return n;
}

class ServiceManager : public test::FirebirdTest {
 protected:
  void setCredentials(TIBCustomService& svc) {
    svc.LoginPrompt = false;
    svc.Params.Clear();
    svc.Params.SetValue("user_name", env.user);
    svc.Params.SetValue("password", env.password);
  }
};

// "L" sends a plain location unchanged to the local service manager, which here is the
// embedded engine of this process: it serves plain paths, opening the files itself.
TEST_F(ServiceManager, LocalServiceManagerBacksUpPlainPaths) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.host.clear(); });
  ASSERT_EQ(sample.erp().mainLocation, sample.erp().mainFile.string());
  test::TempDir files("local-service");
  // One object serves both passes.
  TIBBackupService backup;
  for (const std::string& location : {sample.erp().mainLocation, sample.erp().nfeLocation}) {
    setCredentials(backup);
    backup.Verbose = true;
    applyServiceTarget(backup, automaticBackupTarget("L", location, "/srv/bkp/"));
    EXPECT_EQ(backup.ServiceManagerName(), "service_mgr");
    backup.BackupFile.Clear();
    backup.BackupFile.Add(files.file(std::filesystem::path(location).stem().string() + ".fbk"));
    const std::vector<std::string> lines = runService(backup);
    EXPECT_EQ(lines.back(), "");
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_NE(lines[i], "") << "line " << i;
    EXPECT_GT(countContaining(lines, "writing data for"), 0u);
    // After the end, further reads give empty lines and keep the flag.
    EXPECT_EQ(backup.ReadOutputLine(), "");
    EXPECT_TRUE(backup.OutputFinished());
  }
  EXPECT_GT(std::filesystem::file_size(files.file("ERP.fbk")), 0u);
  EXPECT_GT(std::filesystem::file_size(files.file("ERP_NFE.fbk")), 0u);
}

TEST_F(ServiceManager, ErrorsCarryTheClientsText) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  const auto start = std::chrono::steady_clock::now();

  TIBBackupService svc;
  svc.Protocol = TProtocol::TCP;
  svc.ServerName = "localhost";
  setCredentials(svc);
  svc.Params.SetValue("password", env.password + "x");
  std::string error = errorText([&] { svc.Attach(); });
  EXPECT_NE(error.find("password"), std::string::npos) << error;
  EXPECT_FALSE(svc.Active());

  svc.ServerName = "localhost/3999";
  setCredentials(svc);
  error = errorText([&] { svc.Attach(); });
  EXPECT_NE(error.find("Unable to complete network request to host \"localhost"), std::string::npos)
      << error;
  EXPECT_FALSE(svc.Active());

  // A missing database: the server reports it while the output is read.
  svc.ServerName = "localhost";
  svc.Verbose = true;
  const std::string missing = sample.dir().file("missing.fdb");
  svc.DatabaseName = missing;
  svc.BackupFile.Add(sample.dir().file("missing.fbk"));
  error = errorText([&] { runService(svc); });
  EXPECT_NE(error.find(missing), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(sample.dir().file("missing.fbk")));

  // The local refusals while attached, and after.
  svc.Attach();
  const std::string attached = "Cannot perform operation -- service is attached";
  EXPECT_EQ(errorText([&] { svc.Attach(); }), attached);
  EXPECT_EQ(errorText([&] { svc.Params.Clear(); }), attached);
  EXPECT_EQ(errorText([&] { svc.Params.SetValue("password", ""); }), attached);
  EXPECT_EQ(svc.Params.Count(), 2u);
  svc.DatabaseName.clear();
  EXPECT_EQ(errorText([&] { svc.ServiceStart(); }), "start Parameters missing or incorrect");
  svc.setActive(false);
  EXPECT_FALSE(svc.Active());
  svc.Params.Clear();  // allowed again once detached
  EXPECT_EQ(errorText([&] { svc.ServiceStart(); }),
            "Cannot perform operation -- service is not attached");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

// Accented folder and file names, as Brazilian offices name them, through the server's
// manager and through the local one, for backups and restores; the server's own tool reads
// what was written.
TEST_F(ServiceManager, AccentedPathsBackUpAndRestoreThroughBothManagers) {
  const test::DbTempDir folder(env.dbDir, "Backup Diário");
  const std::string counted = "select count(*) from EMPRESA";
  {
    SCOPED_TRACE("a plain database into an accented folder");
    const TestErp plain(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
    TIBBackupService backup;
    setCredentials(backup);
    applyServiceTarget(backup, manualBackupTarget("R", plain.erp().mainLocation));
    backup.BackupFile.Add(folder.file("Cópia ação.fbk"));
    runService(backup);
    EXPECT_GT(std::filesystem::file_size(folder.file("Cópia ação.fbk")), 0u);
  }
  for (const std::string localRemote : {"L", "R"}) {
    SCOPED_TRACE(localRemote);
    // The local manager is the embedded engine: its databases are plain files it opens.
    const bool local = localRemote == "L";
    const TestErp sample(env, [&](test::SampleErpOptions& o) {
      o.name = "Cópia ação";
      o.nfeDatabase = false;
      if (local) o.host.clear();
    });
    const std::string location = sample.erp().mainLocation;
    const std::string expected = test::queryValue(location, env, counted);
    TIBBackupService backup;
    setCredentials(backup);
    applyServiceTarget(backup, manualBackupTarget(localRemote, location));
    const std::string fbk = folder.file("Cópia ação " + localRemote + ".fbk");
    backup.BackupFile.Add(fbk);
    runService(backup);
    ASSERT_TRUE(std::filesystem::exists(fbk));

    TIBRestoreService restore;
    restore.Protocol = backup.Protocol;
    restore.ServerName = backup.ServerName;
    setCredentials(restore);
    const std::string fdb = folder.file("Restauração " + localRemote + ".fdb");
    restore.DatabaseName.Add(fdb);
    restore.BackupFile.Add(fbk);
    runService(restore);
    EXPECT_EQ(test::queryValue(local ? fdb : "localhost:" + fdb, env, counted), expected);

    // gbak through the server restores the same file (gbak reads its arguments in the
    // locale's character set).
    const std::string byGbak = folder.file("Restauração gbak " + localRemote + ".fdb");
    const std::string command = "LC_ALL=C.UTF-8 gbak -c -se localhost:service_mgr -user '" +
                                env.user + "' -password '" + env.password + "' '" + fbk + "' '" +
                                byGbak + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "gbak -c " << fbk;
    EXPECT_EQ(test::queryValue("localhost:" + byGbak, env, counted), expected);
  }
}

// A restore that reads its backup from this process, as the archive check feeds it, then the
// online validation of what it made; a backup that ends early is refused by the server.
TEST_F(ServiceManager, ARestoreFromTheClientsStreamThenTheOnlineValidation) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  const test::DbTempDir folder(env.dbDir, "stdin");
  TIBBackupService backup;
  setCredentials(backup);
  applyServiceTarget(backup, manualBackupTarget("R", sample.erp().mainLocation));
  backup.BackupFile.Add(folder.file("ERP.fbk"));
  runService(backup);
  const std::string fbk = test::readFile(folder.file("ERP.fbk"));

  struct Case {
    const char* name;
    size_t length;  // bytes of the backup the source gives
    size_t block;   // at most this many per call
    bool restores;
  };
  for (const Case& c : {Case{"whole, in small reads", fbk.size(), 1000, true},
                        Case{"whole, in large reads", fbk.size(), 1 << 20, true},
                        Case{"cut short", fbk.size() / 2, 1 << 20, false}}) {
    SCOPED_TRACE(c.name);
    TIBRestoreService restore;
    restore.Protocol = TProtocol::TCP;
    restore.ServerName = "localhost";
    setCredentials(restore);
    restore.Verbose = true;
    restore.PageSize = 8192;
    const std::string fdb = folder.file(std::string(c.name) + ".fdb");
    restore.DatabaseName.Add(fdb);
    size_t given = 0;
    restore.StdinSource = [&](char* buffer, size_t max) {
      const size_t n = std::min({max, c.block, c.length - given});
      std::memcpy(buffer, fbk.data() + given, n);
      given += n;
      return n;
    };
    std::vector<std::string> lines;
    const std::string error = errorText([&] { lines = runService(restore); });
    EXPECT_EQ(given, c.length);
    if (!c.restores) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_EQ(error, "");
    EXPECT_GT(countContaining(lines, "records restored"), 0u);
    EXPECT_EQ(test::queryValue("localhost:" + fdb, env, "select count(*) from VENDA"),
              test::queryValue(sample.erp().mainLocation, env, "select count(*) from VENDA"));

    TIBValidationService validation;
    validation.Protocol = TProtocol::TCP;
    validation.ServerName = "localhost";
    setCredentials(validation);
    validation.DatabaseName = fdb;
    const std::vector<std::string> report = runService(validation);
    EXPECT_EQ(countContaining(report, "Validation finished"), 1u);
    EXPECT_EQ(countContaining(report, "ERRORS"), 0u);
    EXPECT_GT(countContaining(report, "(VENDA) is ok"), 0u);
  }
}

}  // namespace
}  // namespace dovra
