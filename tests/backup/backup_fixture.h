// A main window over the sample ERP on the real Firebird server, with RunState filled as
// the start sequence leaves it, and a backup folder the server can write.
#pragma once

#include <filesystem>

#include "archive/archive_reader.h"
#include "backup/automatic_backup.h"
#include "form/backup_workers.h"
#include "form/form_test_support.h"
#include "support/firebird_env.h"

namespace dovra::test {

class BackupFixture : public FormFixture {
 protected:
  void SetUp() override {
    useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    writeIdentifier("LOJA");
    form->FormCreate();
    backupDir = std::make_unique<DbTempDir>(env.dbDir, "bkp");
  }

  // RunState as the start sequence sets it for `erp`, backing up into `folder`.
  void useErp(const SampleErp& erp, const std::string& folder) {
    RunState& s = form->state();
    s.DatabasePath = erp.mainLocation;
    s.DatabaseBaseName = erp.mainFile.stem().string();
    s.NfeEnabled = !erp.nfeLocation.empty();
    s.NfeDatabasePath = erp.nfeLocation;
    s.NfeDatabaseBaseName = s.NfeEnabled ? erp.nfeFile.stem().string() : "";
    s.DbUser = env.user;
    s.DbPassword = env.password;
    s.LocalRemote = "L";
    s.BackupFolder = folder;
    s.CompanyText = "Loja - Loja";
  }

  // Runs Tauto on this thread as the launcher would, then lets posted work run.
  void runAutomaticBackup() {
    ASSERT_TRUE(form->state().BackupRunning.tryClaim());
    Tauto(form->workerContext(), autoBackupHooks(*form), form->state().snapshot()).Execute();
    loop.processEvents();
  }

  // Unpacks `archive` into a fresh server-writable folder and restores each entry; returns
  // the row counts of the restored main database.
  std::map<std::string, int64_t> restoredCounts(const std::string& archive,
                                                const std::string& entry) {
    DbTempDir out(env.dbDir, "unpack");
    DecompressFiles(archive, out.path().string() + "/");
    const std::string fdb = out.file("restored.fdb");
    restoreThroughServer(out.file(entry), fdb, env);
    return sampleRowCounts("localhost:" + fdb, env);
  }

  std::vector<std::string> entryNames(const std::string& archive) {
    std::vector<std::string> names;
    for (const auto& e : listArchive(archive)) names.push_back(e.name);
    return names;
  }

  std::string folder() const { return backupDir->path().string() + "/"; }

  FirebirdEnv env;
  std::unique_ptr<DbTempDir> backupDir;
};

}  // namespace dovra::test
