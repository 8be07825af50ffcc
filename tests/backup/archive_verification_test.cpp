// The check of the automatic archive against the real server: a good archive restores,
// validates and keeps its copy as the last verified one; damage, a refusal or a full disk
// each fail clearly, leave the last verified copy and the live databases as they were and
// leave no scratch behind.
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive_writer.h"
#include "backup/archive_record.h"
#include "backup/archive_verification.h"
#include "backup/backup_fixture.h"

namespace dovra {
namespace {

using test::TestErp;
namespace fs = std::filesystem;

class ArchiveCheck : public test::BackupFixture {
 protected:
  // Runs the check as the launcher would, then lets posted work run.
  void runCheck() {
    TVerifica(form->window(), form->state().snapshot(), *memory).Execute();
    loop.processEvents();
  }
  const RunReport* lastCheck() const {
    for (auto r = log.reports.rbegin(); r != log.reports.rend(); ++r) {
      if (r->kind == RunReport::Kind::Verify) return &*r;
    }
    return nullptr;
  }
  ArchiveRecord record() const {
    auto r = loadArchiveRecord(folder() + "ERP.zlib.verify");
    return r ? *r : ArchiveRecord{};
  }
  bool due() const { return verificationDue(form->state(), *memory); }
  // Unpacks the archive, lets `change` alter the main backup file, packs it again in place.
  void repack(const std::function<void(std::string& fbk)>& change) {
    const test::DbTempDir out(env.dbDir, "repack");
    DecompressFiles(folder() + "ERP.zlib", out.path().string() + "/");
    std::string fbk = test::readFile(out.file("ERP_AUTO.fbk"));
    change(fbk);
    test::writeFile(out.file("ERP_AUTO.fbk"), fbk);
    CompressFiles({out.file("ERP_AUTO.fbk"), out.file("ERP_NFE_AUTO.fbk")}, folder() + "ERP.zlib");
  }
  // The record made to stand for the archive as it is now, as if its backup had written it.
  void recordTheArchiveAsItIs() {
    ArchiveRecord r = record();
    r.archiveSize = static_cast<int64_t>(fs::file_size(folder() + "ERP.zlib"));
    r.archiveCrc = fileCrc32(folder() + "ERP.zlib");
    r.state = ArchiveRecord::State::Pending;
    saveArchiveRecord(folder() + "ERP.zlib.verify", r);
  }

  // What this run of the program remembers of the checks it started.
  std::unique_ptr<VerificationMemory> memory = std::make_unique<VerificationMemory>();
};

TEST_F(ArchiveCheck, AGoodArchiveIsVerifiedAndStaysTheVerifiedCopyUntilANewerOnePasses) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  ASSERT_TRUE(due());
  const ArchiveRecord made = record();
  EXPECT_EQ(made.mainEntry, "ERP_AUTO.fbk");
  // The counts the backup reported are the live database's.
  for (const auto& [table, count] : test::sampleRowCounts(sample.erp().mainLocation, env)) {
    if (table.find(' ') != std::string::npos) continue;  // not a table
    EXPECT_EQ(made.tables.at(table), count) << table;
  }

  runCheck();
  const RunReport* done = lastCheck();
  ASSERT_NE(done, nullptr);
  ASSERT_EQ(done->state, RunReport::State::Done) << done->error;
  EXPECT_EQ(done->archive, folder() + "ERP.zlib");
  EXPECT_EQ(done->tables, static_cast<int>(made.tables.size()));
  EXPECT_EQ(done->records, totalRecords(made.tables));
  EXPECT_GE(done->seconds, 0);
  EXPECT_EQ(record().state, ArchiveRecord::State::Verified);
  EXPECT_FALSE(due());
  // The verified copy is the archive itself under a second name; nothing else is left.
  struct stat a {
  }, v{};
  ASSERT_EQ(::stat((folder() + "ERP.zlib").c_str(), &a), 0);
  ASSERT_EQ(::stat((folder() + "ERP.verified.zlib").c_str(), &v), 0);
  EXPECT_EQ(a.st_ino, v.st_ino);
  EXPECT_FALSE(fs::exists(folder() + "ERP_VERIFICA"));
  EXPECT_NE(form->window().hint().find("\rBackup verificado: "), std::string::npos);
  bool said = false;
  for (const auto& e : log.of(UiEvent::Kind::Memo)) said |= e.text.rfind("Verificado: ", 0) == 0;
  EXPECT_TRUE(said);

  // The next backup replaces the archive; the copy that passed stays until the new one does.
  const std::string firstVerified = test::readFile(folder() + "ERP.verified.zlib");
  test::execSql(sample.erp().mainLocation, env, "delete from VENDAITEM where VITVENDA <= 10");
  runAutomaticBackup();
  ASSERT_TRUE(due());
  EXPECT_EQ(test::readFile(folder() + "ERP.verified.zlib"), firstVerified);
  runCheck();
  ASSERT_EQ(lastCheck()->state, RunReport::State::Done) << lastCheck()->error;
  EXPECT_EQ(test::readFile(folder() + "ERP.verified.zlib"), test::readFile(folder() + "ERP.zlib"));
  EXPECT_NE(test::readFile(folder() + "ERP.verified.zlib"), firstVerified);
}

TEST_F(ArchiveCheck, DamageARefusalOrAFullDiskFailClearlyAndLeaveTheVerifiedCopy) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  runCheck();
  ASSERT_EQ(lastCheck()->state, RunReport::State::Done) << lastCheck()->error;
  const std::string verified = test::readFile(folder() + "ERP.verified.zlib");
  const auto liveCounts = test::sampleRowCounts(sample.erp().mainLocation, env);

  struct Case {
    const char* name;
    std::function<void()> prepare;  // after a fresh backup
    std::string error;              // a part of the error
  };
  const std::vector<Case> cases = {
      {"a byte of the backup changed after it was archived (the archive still inflates)",
       [&] { repack([](std::string& fbk) { fbk[fbk.size() / 2] ^= 0x5a; }); },
       "não é o que o backup gravou"},
      {"a backup that was cut short before it was archived",
       [&] {
         repack([](std::string& fbk) { fbk.resize(fbk.size() / 2); });
         recordTheArchiveAsItIs();
       },
       ""},
      {"a table that holds other records than the backup reported",
       [&] {
         ArchiveRecord r = record();
         r.tables["VENDA"] += 1;
         saveArchiveRecord(folder() + "ERP.zlib.verify", r);
       },
       "Tabela VENDA: " + std::to_string(liveCounts.at("VENDA") + 1) + " registros no backup, " +
           std::to_string(liveCounts.at("VENDA")) + " restaurados"},
      {"the server refuses the credentials", [&] { form->state().DbPassword = "wrong"; }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The backups of the cases may give the same archive: each case is a run of its own.
    memory = std::make_unique<VerificationMemory>();
    form->state().DbPassword = env.password;
    runAutomaticBackup();
    c.prepare();
    ASSERT_TRUE(due());
    log.events.clear();
    runCheck();
    const RunReport* failed = lastCheck();
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->state, RunReport::State::Failed);
    EXPECT_EQ(failed->error.rfind("erro: ", 0), 0u) << failed->error;
    EXPECT_NE(failed->error.find(c.error), std::string::npos) << failed->error;
    EXPECT_EQ(failed->log, folder() + "ERP_VERIFICA.txt");
    EXPECT_NE(test::readFile(failed->log).find(failed->error + "\r\n"), std::string::npos);
    const auto balloons = log.of(UiEvent::Kind::Balloon);
    ASSERT_FALSE(balloons.empty());
    EXPECT_EQ(balloons.back().title, "Erro na verificação do backup");
    EXPECT_EQ(record().state, ArchiveRecord::State::Failed);
    EXPECT_FALSE(due());
    EXPECT_EQ(test::readFile(folder() + "ERP.verified.zlib"), verified);
    EXPECT_FALSE(fs::exists(folder() + "ERP_VERIFICA"));
  }
  form->state().DbPassword = env.password;
  EXPECT_EQ(test::sampleRowCounts(sample.erp().mainLocation, env), liveCounts);

  {
    SCOPED_TRACE("a disk without room for the restored database");
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    const test::DbTempDir home(env.dbDir, "tiny");
    test::SmallDisk disk(home.path() / "bkp", "24m");
    if (!disk.mounted()) GTEST_SKIP() << "tmpfs not available";
    form->state().BackupFolder = (home.path() / "bkp").string() + "/";
    memory = std::make_unique<VerificationMemory>();
    runAutomaticBackup();
    ASSERT_TRUE(due());
    runCheck();
    const RunReport* failed = lastCheck();
    EXPECT_EQ(failed->state, RunReport::State::Failed);
    EXPECT_NE(failed->error.find("Espaço em disco insuficiente para verificar o backup"),
              std::string::npos)
        << failed->error;
    EXPECT_FALSE(fs::exists(home.path() / "bkp" / "ERP_VERIFICA"));
    EXPECT_TRUE(fs::exists(home.path() / "bkp" / "ERP.zlib"));
  }
}

// A check cut short (the program killed) leaves its scratch folder: the next start removes
// it and reports the check as failed; the archive is checked again afterwards.
TEST_F(ArchiveCheck, WhatAnInterruptedCheckLeftIsRemovedAndReported) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  fs::create_directory(folder() + "ERP_VERIFICA");
  test::writeFile(folder() + "ERP_VERIFICA/ERP_VERIFICA.fdb", "half a database");
  fs::create_hard_link(folder() + "ERP.zlib", folder() + "ERP_VERIFICA/ERP.zlib");

  EXPECT_TRUE(removeInterruptedVerification(form->state(), form->window()));
  loop.processEvents();
  EXPECT_FALSE(fs::exists(folder() + "ERP_VERIFICA"));
  ASSERT_NE(lastCheck(), nullptr);
  EXPECT_EQ(lastCheck()->state, RunReport::State::Failed);
  EXPECT_NE(lastCheck()->error.find("interrompida"), std::string::npos);
  EXPECT_FALSE(removeInterruptedVerification(form->state(), form->window()));

  EXPECT_TRUE(due());
  runCheck();
  EXPECT_EQ(lastCheck()->state, RunReport::State::Done) << lastCheck()->error;
}

TEST_F(ArchiveCheck, TurnedOffTheBackupLeavesNoRecordAndNothingIsChecked) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  form->state().VerifyEnabled = false;
  runAutomaticBackup();
  EXPECT_TRUE(fs::exists(folder() + "ERP.zlib"));
  EXPECT_FALSE(fs::exists(folder() + "ERP.zlib.verify"));
  EXPECT_FALSE(due());
  form->state().VerifyEnabled = true;
  EXPECT_FALSE(due());  // no record: an archive this run did not make is not checked
}

}  // namespace
}  // namespace dovra
