// The automatic backup worker against the real server and the sample ERP.
#include "backup/backup_fixture.h"

#include <set>

namespace dovra {
namespace {

using test::BackupFixture;
using test::TestErp;
namespace fs = std::filesystem;

TEST_F(BackupFixture, BothDatabasesEndUpInTheArchiveAndRestoreWithTheirRows) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->Timer1.setEnabled(false);
  runAutomaticBackup();

  const std::string archive = folder() + "ERP.zlib";
  EXPECT_EQ(entryNames(archive), (std::vector<std::string>{"ERP_AUTO.fbk", "ERP_NFE_AUTO.fbk"}));
  EXPECT_FALSE(fs::exists(folder() + "ERP_AUTO.fbk"));
  EXPECT_FALSE(fs::exists(folder() + "ERP_NFE_AUTO.fbk"));
  EXPECT_EQ(restoredCounts(archive, "ERP_AUTO.fbk"),
            test::sampleRowCounts(sample.erp().mainLocation, env));

  WindowModel& w = form->window();
  EXPECT_EQ(w.labelText("lbStatus"), "Backup realizado com sucesso");
  EXPECT_EQ(w.labelColor("lbStatus"), LabelColor::Highlight);
  EXPECT_EQ(w.labelText("lbArquivo"), "ERP, ERP_NFE");
  EXPECT_EQ(w.labelText("lbDiretorio"), folder());
  EXPECT_EQ(w.labelText("lbDataHora"), "08/12/26 - 08:00:00");
  EXPECT_TRUE(w.memoLines("MemoBackup").empty());
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_TRUE(form->Timer1.enabled());

  // The log said what it did, the final empty line included, before it was cleared.
  std::vector<std::string> memo;
  for (const auto& e : log.of(UiEvent::Kind::Memo)) memo.push_back(e.text);
  EXPECT_NE(std::find(memo.begin(), memo.end(),
                      "Copia realizada com sucesso para " + sample.erp().mainLocation),
            memo.end());
  EXPECT_NE(std::find(memo.begin(), memo.end(), ""), memo.end());
}

TEST_F(BackupFixture, WithoutNfeDatabaseTheMainBackupAloneAndASecondRunReplacesTheArchive) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  const std::string archive = folder() + "ERP.zlib";
  runAutomaticBackup();
  EXPECT_EQ(entryNames(archive), std::vector<std::string>{"ERP_AUTO.fbk"});
  EXPECT_EQ(form->window().labelText("lbArquivo"), "ERP");

  // A run cut short earlier left a backup file of the NF-e pass, which is off now: the next
  // run removes it.
  form->state().NfeDatabaseBaseName = "ERP_NFE";
  test::writeFile(folder() + "ERP_NFE_AUTO.fbk", std::string(4096, 'x'));
  const auto firstSize = fs::file_size(archive);
  runAutomaticBackup();
  EXPECT_EQ(entryNames(archive), std::vector<std::string>{"ERP_AUTO.fbk"});
  EXPECT_NEAR(static_cast<double>(fs::file_size(archive)), static_cast<double>(firstSize),
              firstSize * 0.05);
  // No backup files, logs or temporaries pile up: the archive and its record stay.
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(backupDir->path())) {
    left.insert(e.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"ERP.zlib", "ERP.zlib.verify"}));
}

TEST_F(BackupFixture, AFailedPassKeepsThePreviousArchiveAndEndsTheRunInTheErrorStatus) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  const std::string archive = folder() + "ERP.zlib";
  const std::string good = test::readFile(archive);

  const std::string mainLocation = sample.erp().mainLocation;
  form->state().DatabasePath = "localhost:" + folder() + "missing.fdb";
  log.events.clear();
  runAutomaticBackup();
  const std::string logText = test::readFile(folder() + "ERP_AUTO.txt");
  EXPECT_NE(logText.find("erro: "), std::string::npos) << logText;
  EXPECT_EQ(logText.substr(logText.size() - 2), "\r\n");
  // The archive of the earlier run is the one the upload still finds; the NF-e backup made
  // by this run, which no archive holds, does not stay to fill the disk.
  EXPECT_EQ(test::readFile(archive), good);
  EXPECT_FALSE(fs::exists(folder() + "ERP_NFE_AUTO.fbk"));
  // The NF-e pass went well after the main one failed: the run still ends in the error
  // status, with its balloon.
  EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
  EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
  const auto balloons = log.of(UiEvent::Kind::Balloon);
  ASSERT_FALSE(balloons.empty());
  EXPECT_EQ(balloons.back().text, "Erro ao efetuar backUp, verifique o log e tente novamente.");
  EXPECT_EQ(form->window().labelText("lbArquivo"), ", ERP_NFE");
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_TRUE(form->Timer1.enabled());

  // The next complete run replaces the archive and clears the backup files.
  form->state().DatabasePath = mainLocation;
  runAutomaticBackup();
  EXPECT_EQ(entryNames(archive), (std::vector<std::string>{"ERP_AUTO.fbk", "ERP_NFE_AUTO.fbk"}));
  EXPECT_FALSE(fs::exists(folder() + "ERP_AUTO.fbk"));
  EXPECT_FALSE(fs::exists(folder() + "ERP_NFE_AUTO.fbk"));

  // Remote with a local folder: every pass fails with "Server Name Missing", and the
  // archive of an earlier day stays (there is nothing new to replace it with).
  useErp(sample.erp(), folder());
  form->state().LocalRemote = "R";
  test::writeFile(folder() + "ERP.zlib", "earlier archive");
  runAutomaticBackup();
  for (const char* log : {"ERP_AUTO.txt", "ERP_NFE_AUTO.txt"}) {
    EXPECT_NE(test::readFile(folder() + log).find("erro: Server Name Missing\r\n"),
              std::string::npos)
        << log;
  }
  EXPECT_EQ(test::readFile(folder() + "ERP.zlib"), "earlier archive");
  EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
  EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_TRUE(form->Timer1.enabled());
}

// Each run says once that it started and once how it ended: done with the archive and its
// size on disk, or failed with the first failure's log line and the log that holds it.
TEST_F(BackupFixture, EachRunReportsItsStartAndOneOutcome) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  const std::string archive = folder() + "ERP.zlib";
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].kind, RunReport::Kind::Backup);
  EXPECT_EQ(log.reports[0].state, RunReport::State::Started);
  EXPECT_EQ(log.reports[0].backupKind, "automatic");
  EXPECT_EQ(log.reports[1].state, RunReport::State::Done);
  EXPECT_EQ(log.reports[1].backupKind, "automatic");
  EXPECT_EQ(log.reports[1].archive, archive);
  EXPECT_EQ(log.reports[1].bytes, static_cast<int64_t>(fs::file_size(archive)));

  // Both passes fail: one outcome, the first pass's.
  log.reports.clear();
  form->state().LocalRemote = "R";
  runAutomaticBackup();
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].state, RunReport::State::Started);
  const RunReport& failed = log.reports[1];
  EXPECT_EQ(failed.state, RunReport::State::Failed);
  EXPECT_EQ(failed.error, "erro: Server Name Missing");
  EXPECT_EQ(failed.log, folder() + "ERP_AUTO.txt");
  EXPECT_NE(test::readFile(failed.log).find(failed.error + "\r\n"), std::string::npos);
  EXPECT_EQ(failed.bytes, -1);
  EXPECT_TRUE(failed.archive.empty());

  // A log that cannot be written is not named.
  log.reports.clear();
  form->state().LocalRemote = "L";
  form->state().BackupFolder = folder() + "missing/";
  runAutomaticBackup();
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[1].state, RunReport::State::Failed);
  EXPECT_EQ(log.reports[1].error.rfind("erro: ", 0), 0u) << log.reports[1].error;
  EXPECT_EQ(log.reports[1].log, "");
  // Without its log the failure still shows in the status.
  EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
  EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
  EXPECT_FALSE(form->state().BackupRunning);
}

TEST_F(BackupFixture, AFullDiskEndsTheRunInTheErrorStatusAndLeavesNoBackupFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.sizeMb = 3;
    o.nfeDatabase = false;
  });
  useErp(sample.erp(), folder());
  runAutomaticBackup();  // a roomy run tells how big the backup file is
  const auto archiveSize = fs::file_size(folder() + "ERP.zlib");
  DecompressFiles(folder() + "ERP.zlib", folder());
  const auto backupSize = fs::file_size(folder() + "ERP_AUTO.fbk");
  ASSERT_GT(archiveSize, 64u * 1024);

  const test::DbTempDir home(env.dbDir, "tiny");  // where the server can reach
  // Both runs fail for want of space: the status, the balloon and the event say so, and no
  // backup file is left to hold the space the next run needs.
  const auto expectFailedRun = [&](const fs::path& disk) {
    EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
    EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
    const auto balloons = log.of(UiEvent::Kind::Balloon);
    ASSERT_FALSE(balloons.empty());
    EXPECT_EQ(balloons.back().title, "Erro ao efetuar BackUp");
    EXPECT_EQ(balloons.back().text, "Espaço em disco esgotado.");
    ASSERT_FALSE(log.reports.empty());
    EXPECT_EQ(log.reports.back().state, RunReport::State::Failed);
    EXPECT_FALSE(fs::exists(disk / "ERP.zlib"));
    EXPECT_FALSE(fs::exists(disk / "ERP_AUTO.fbk"));
    EXPECT_FALSE(form->state().BackupRunning);
    EXPECT_TRUE(form->Timer1.enabled());
  };
  {
    SCOPED_TRACE("room for the backup file and less than half of its archive");
    const auto tiny = home.path() / "packing";
    const std::string size = std::to_string((backupSize + archiveSize / 2) / 1024 + 8) + "k";
    test::SmallDisk disk(tiny, size);
    if (!disk.mounted()) GTEST_SKIP() << "tmpfs not available";
    form->state().BackupFolder = tiny.string() + "/";
    log.events.clear();
    runAutomaticBackup();
    for (const auto& entry : fs::directory_iterator(tiny)) {
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    expectFailedRun(tiny);
  }
  {
    SCOPED_TRACE("no room for the backup file");
    const auto tiny = home.path() / "backup";
    test::SmallDisk disk(tiny, "256k");
    ASSERT_TRUE(disk.mounted());
    form->state().BackupFolder = tiny.string() + "/";
    log.events.clear();
    runAutomaticBackup();
    expectFailedRun(tiny);
  }
}

TEST_F(BackupFixture, AccentedFolderAndDatabaseNames) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.name = "Cópia ação"; });
  const test::DbTempDir accented(env.dbDir, "Backup Diário");
  const std::string dir = accented.path().string() + "/";
  useErp(sample.erp(), dir);
  runAutomaticBackup();
  const std::string archive = dir + "Cópia ação.zlib";
  ASSERT_TRUE(fs::exists(archive)) << test::readFile(dir + "Cópia ação_AUTO.txt");
  EXPECT_EQ(entryNames(archive),
            (std::vector<std::string>{"Cópia ação_AUTO.fbk", "Cópia ação_NFE_AUTO.fbk"}));
  EXPECT_EQ(restoredCounts(archive, "Cópia ação_AUTO.fbk"),
            test::sampleRowCounts(sample.erp().mainLocation, env));
  EXPECT_EQ(form->window().labelText("lbStatus"), "Backup realizado com sucesso");
}

}  // namespace
}  // namespace dovra
