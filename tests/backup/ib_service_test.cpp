// Backup and restore through the real service manager, over TCP and through the embedded
// engine, and the errors the callers see.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "backup/ib_database.h"
#include "backup/ib_query.h"
#include "backup/ib_service.h"
#include "backup/service_target.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

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

void setCredentials(TIBCustomService& svc, const test::FirebirdEnv& env) {
  svc.LoginPrompt = false;
  svc.Params.Clear();
  svc.Params.SetValue("user_name", env.user);
  svc.Params.SetValue("password", env.password);
}

size_t countContaining(const std::vector<std::string>& lines, const std::string& text) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.find(text) != std::string::npos;
  return n;
}

template <typename Fn>
std::string failure(Fn fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return {};
}

class ServiceManager : public test::FirebirdTest {};

TEST_F(ServiceManager, VerboseBackupAndRestoreOverTcp) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  const std::string backupFile = sample.dir().file("ERP_AUTO.fbk");

  TIBBackupService backup;
  setCredentials(backup, env);
  backup.Verbose = true;
  applyServiceTarget(backup, manualBackupTarget("R", sample.erp().mainLocation));
  EXPECT_EQ(backup.ServerName, "localhost");
  EXPECT_EQ(backup.DatabaseName, sample.erp().mainFile.string());
  backup.BackupFile.Clear();
  backup.BackupFile.Add(backupFile);

  const std::vector<std::string> lines = runService(backup);
  EXPECT_TRUE(backup.OutputFinished());
  EXPECT_FALSE(backup.Active());
  ASSERT_GT(lines.size(), 20u);
  EXPECT_EQ(lines.back(), "");
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_NE(lines[i], "") << "line " << i;
  EXPECT_GE(countContaining(lines, "writing table"), 7u);
  EXPECT_GE(countContaining(lines, "writing data for"), 7u);
  EXPECT_GE(countContaining(lines, "writing index"), 5u);
  EXPECT_EQ(countContaining(lines, "writing data for table VENDAITEM"), 1u);
  // After the end, further reads give empty lines and keep the flag.
  EXPECT_EQ(backup.ReadOutputLine(), "");
  EXPECT_TRUE(backup.OutputFinished());
  ASSERT_TRUE(std::filesystem::exists(backupFile));
  EXPECT_GT(std::filesystem::file_size(backupFile), 100000u);

  // Restore it over TCP into a new file; every table comes back whole.
  TIBRestoreService restore;
  setCredentials(restore, env);
  restore.Protocol = TProtocol::TCP;
  restore.ServerName = "localhost";
  restore.Verbose = true;
  restore.PageSize = 8192;
  restore.DatabaseName.Add(sample.dir().file("ERP_RESTORED.fdb"));
  restore.BackupFile.Add(backupFile);
  const std::vector<std::string> restored = runService(restore);
  EXPECT_EQ(restored.back(), "");
  EXPECT_GE(countContaining(restored, "restoring data for table"), 7u);

  IbDatabase original;
  original.DatabaseName = sample.erp().mainLocation;
  original.Params = {"user_name=" + env.user, "password=" + env.password};
  IbDatabase copy;
  copy.DatabaseName = sample.dir().remote("ERP_RESTORED.fdb");
  copy.Params = {"user_name=" + env.user, "password=" + env.password};
  const auto counts = test::sampleRowCounts(original);
  EXPECT_EQ(test::sampleRowCounts(copy), counts);
  EXPECT_GT(counts.at("VENDAITEM"), 300);

  // The restore asks for a new file: onto an existing one it fails with the server's
  // text, and the database there keeps its data.
  copy.Close();
  const std::string error = failure([&] { runService(restore); });
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  EXPECT_FALSE(restore.Active());
  EXPECT_EQ(test::sampleRowCounts(copy), counts);
}

// "L" sends the location unchanged to the local service manager, which here is the
// embedded engine of this process: it serves plain paths, opening the files itself.
TEST_F(ServiceManager, LocalServiceManagerAsTheRestoreDialogueUsesIt) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.host.clear(); });
  ASSERT_EQ(sample.erp().mainLocation, sample.erp().mainFile.string());
  test::TempDir files("local-service");
  const std::string backupFile = files.file("ERP.fbk");

  // One object serves both passes.
  TIBBackupService backup;
  for (const std::string& location : {sample.erp().mainLocation, sample.erp().nfeLocation}) {
    setCredentials(backup, env);
    backup.Verbose = true;
    applyServiceTarget(backup, automaticBackupTarget("L", location, "/srv/bkp/"));
    EXPECT_EQ(backup.ServiceManagerName(), "service_mgr");
    EXPECT_EQ(backup.DatabaseName, location);
    backup.BackupFile.Clear();
    backup.BackupFile.Add(location == sample.erp().mainLocation ? backupFile
                                                                : files.file("ERP_NFE.fbk"));
    const std::vector<std::string> lines = runService(backup);
    EXPECT_EQ(lines.back(), "");
    EXPECT_GT(countContaining(lines, "writing data for"), 0u);
  }
  ASSERT_TRUE(std::filesystem::exists(files.file("ERP_NFE.fbk")));

  TIBRestoreService IBRestoreService1;
  IBRestoreService1.ServerName = "127.0.0.1";
  IBRestoreService1.Protocol = TProtocol::Local;
  setCredentials(IBRestoreService1, env);
  IBRestoreService1.Verbose = true;
  IBRestoreService1.PageSize = 8192;
  IBRestoreService1.DatabaseName.Clear();
  IBRestoreService1.DatabaseName.Add(backupFile.substr(0, backupFile.size() - 4) + ".fdb");
  IBRestoreService1.BackupFile.Clear();
  IBRestoreService1.BackupFile.Add(backupFile);
  const std::vector<std::string> lines = runService(IBRestoreService1);
  EXPECT_EQ(lines.back(), "");
  ASSERT_TRUE(std::filesystem::exists(files.file("ERP.fdb")));

  IbDatabase original;
  original.DatabaseName = sample.erp().mainLocation;
  original.Params = {"user_name=" + env.user, "password=" + env.password};
  IbDatabase restored;
  restored.DatabaseName = files.file("ERP.fdb");
  restored.Params = {"user_name=" + env.user, "password=" + env.password};
  EXPECT_EQ(test::sampleRowCounts(restored), test::sampleRowCounts(original));

  IbTransaction tr(restored);
  IbQuery q(restored, tr);
  q.SetSQL("select mon$page_size from mon$database");
  q.Open();
  EXPECT_EQ(q.Fields[0].AsInteger(), 8192);
}

// Under "L" a location with a host part is backed up by the server on this machine, which
// takes the file path alone (its services refuse a location with a host).
TEST_F(ServiceManager, LocalBackupOfAServerLocationGoesThroughTheLocalServer) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  test::DbTempDir files(env.dbDir, "local-host");
  TIBBackupService backup;
  setCredentials(backup, env);
  backup.Verbose = true;
  applyServiceTarget(backup, automaticBackupTarget("L", sample.erp().mainLocation, "/srv/"));
  EXPECT_EQ(backup.ServiceManagerName(), "localhost:service_mgr");
  backup.BackupFile.Add(files.file("x.fbk"));
  runService(backup);
  EXPECT_FALSE(backup.Active());
  EXPECT_GT(std::filesystem::file_size(files.file("x.fbk")), 0u);
}

TEST_F(ServiceManager, ErrorsCarryTheClientsText) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  const auto start = std::chrono::steady_clock::now();

  TIBBackupService svc;
  svc.Protocol = TProtocol::TCP;
  svc.ServerName = "localhost";
  setCredentials(svc, env);
  svc.Params.SetValue("password", env.password + "x");
  std::string error = failure([&] { svc.Attach(); });
  EXPECT_NE(error.find("password"), std::string::npos) << error;
  EXPECT_FALSE(svc.Active());

  svc.ServerName = "localhost/3999";
  setCredentials(svc, env);
  error = failure([&] { svc.Attach(); });
  EXPECT_NE(error.find("Unable to complete network request to host \"localhost"), std::string::npos)
      << error;
  EXPECT_FALSE(svc.Active());

  // A missing database: the server reports it while the output is read.
  svc.ServerName = "localhost";
  svc.Verbose = true;
  const std::string missing = sample.dir().file("missing.fdb");
  svc.DatabaseName = missing;
  svc.BackupFile.Clear();
  svc.BackupFile.Add(sample.dir().file("missing.fbk"));
  error = failure([&] { runService(svc); });
  EXPECT_NE(error.find(missing), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(sample.dir().file("missing.fbk")));

  // The local refusals while attached, and after.
  svc.Attach();
  EXPECT_EQ(failure([&] { svc.Attach(); }), "Cannot perform operation -- service is attached");
  EXPECT_EQ(failure([&] { svc.Params.Clear(); }),
            "Cannot perform operation -- service is attached");
  EXPECT_EQ(failure([&] { svc.Params.SetValue("password", ""); }),
            "Cannot perform operation -- service is attached");
  EXPECT_EQ(svc.Params.Count(), 2u);
  svc.DatabaseName.clear();
  EXPECT_EQ(failure([&] { svc.ServiceStart(); }), "start Parameters missing or incorrect");
  svc.setActive(false);
  EXPECT_FALSE(svc.Active());
  svc.Params.Clear();  // allowed again once detached
  EXPECT_EQ(failure([&] { svc.ServiceStart(); }),
            "Cannot perform operation -- service is not attached");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
}  // namespace dovra
