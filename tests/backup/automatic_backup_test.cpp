// The automatic backup worker against the real server and the sample ERP.
#include "backup/backup_fixture.h"

#include "backup/service_target.h"

namespace dovra {
namespace {

using test::BackupFixture;
using test::TestErp;

TEST_F(BackupFixture, BothDatabasesEndUpInTheArchiveAndRestoreWithTheirRows) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->Timer1.setEnabled(false);
  runAutomaticBackup();

  const std::string archive = folder() + "ERP.zlib";
  EXPECT_EQ(entryNames(archive), (std::vector<std::string>{"ERP_AUTO.fbk", "ERP_NFE_AUTO.fbk"}));
  EXPECT_FALSE(std::filesystem::exists(folder() + "ERP_AUTO.fbk"));
  EXPECT_FALSE(std::filesystem::exists(folder() + "ERP_NFE_AUTO.fbk"));
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
  ASSERT_FALSE(memo.empty());
  EXPECT_NE(std::find(memo.begin(), memo.end(),
                      "Copia realizada com sucesso para " + sample.erp().mainLocation),
            memo.end());
  EXPECT_NE(std::find(memo.begin(), memo.end(), ""), memo.end());
}

TEST_F(BackupFixture, WithoutNfeDatabaseTheArchiveHoldsTheMainBackupOnly) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  EXPECT_EQ(entryNames(folder() + "ERP.zlib"), std::vector<std::string>{"ERP_AUTO.fbk"});
  EXPECT_EQ(form->window().labelText("lbArquivo"), "ERP");
}

TEST_F(BackupFixture, AFailedFirstPassLeavesItsLogAndTheSecondStillRuns) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->state().DatabasePath = "localhost:" + folder() + "missing.fdb";
  runAutomaticBackup();

  const std::string logText = test::readFile(folder() + "ERP_AUTO.txt");
  EXPECT_NE(logText.find("erro: "), std::string::npos) << logText;
  EXPECT_EQ(logText.substr(logText.size() - 2), "\r\n");
  EXPECT_EQ(entryNames(folder() + "ERP.zlib"), std::vector<std::string>{"ERP_NFE_AUTO.fbk"});
  EXPECT_EQ(form->window().labelText("lbStatus"), "Backup realizado com sucesso");
  EXPECT_EQ(form->window().labelText("lbArquivo"), ", ERP_NFE");
  EXPECT_FALSE(form->state().BackupRunning);
}

TEST_F(BackupFixture, TheSameRunTwiceReplacesTheArchive) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  runAutomaticBackup();
  const auto first = std::filesystem::last_write_time(folder() + "ERP.zlib");
  const auto firstIno = std::filesystem::file_size(folder() + "ERP.zlib");
  runAutomaticBackup();
  EXPECT_GE(std::filesystem::last_write_time(folder() + "ERP.zlib"), first);
  EXPECT_EQ(entryNames(folder() + "ERP.zlib"), std::vector<std::string>{"ERP_AUTO.fbk"});
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(folder() + "ERP.zlib")),
              static_cast<double>(firstIno), firstIno * 0.05);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(backupDir->path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);  // no backup files, logs or temporaries pile up
}

TEST_F(BackupFixture, RemoteWithALocalFolderFailsEveryPassWithServerNameMissing) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->state().LocalRemote = "R";
  // An archive from an earlier day stays: there is nothing new to replace it with.
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

TEST_F(BackupFixture, AFullDiskWhilePackingKeepsTheBackupFileAndEndsTheRunCleanly) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.sizeMb = 3;
    o.nfeDatabase = false;
  });
  useErp(sample.erp(), folder());
  runAutomaticBackup();  // a roomy run tells how big the backup file is
  const auto archiveSize = std::filesystem::file_size(folder() + "ERP.zlib");
  DecompressFiles(folder() + "ERP.zlib", folder());
  const auto backupSize = std::filesystem::file_size(folder() + "ERP_AUTO.fbk");
  ASSERT_GT(archiveSize, 64u * 1024);

  // Room for the backup file and for less than half of its archive.
  const test::DbTempDir home(env.dbDir, "tiny");  // where the server can reach
  const auto tiny = home.path() / "disk";
  const std::string size = std::to_string((backupSize + archiveSize / 2) / 1024 + 8) + "k";
  test::SmallDisk disk(tiny, size.c_str());
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs not available";
  form->state().BackupFolder = tiny.string() + "/";
  runAutomaticBackup();

  EXPECT_TRUE(std::filesystem::exists(tiny / "ERP_AUTO.fbk"));  // not in a complete archive: kept
  EXPECT_FALSE(std::filesystem::exists(tiny / "ERP.zlib"));
  for (const auto& entry : std::filesystem::directory_iterator(tiny)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
  EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
  EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_TRUE(form->Timer1.enabled());
}

TEST_F(BackupFixture, AFullDiskDuringTheBackupFailsThePassAndEndsTheRunCleanly) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.sizeMb = 2;
    o.nfeDatabase = false;
  });
  useErp(sample.erp(), folder());
  const test::DbTempDir home(env.dbDir, "tiny");
  const auto tiny = home.path() / "disk";
  test::SmallDisk disk(tiny, "256k");
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs not available";
  form->state().BackupFolder = tiny.string() + "/";
  runAutomaticBackup();
  EXPECT_FALSE(std::filesystem::exists(tiny / "ERP.zlib"));
  EXPECT_NE(form->window().labelText("lbStatus"), "Backup realizado com sucesso");
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_TRUE(form->Timer1.enabled());
}

}  // namespace
}  // namespace dovra
