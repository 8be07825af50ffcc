// The manual backup and the backup-date override against the real server.
#include "backup/backup_fixture.h"

#include "firebird/erp_connections.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

using test::TestErp;
namespace fs = std::filesystem;

class ManualBackupTest : public test::BackupFixture {
 protected:
  void SetUp() override {
    BackupFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    manual = std::make_unique<test::DbTempDir>(env.dbDir, "manual");
    extra = std::make_unique<test::DbTempDir>(env.dbDir, "extra");
  }
  void writeFolders(const std::string& manualFolder, const std::string& extraFolder = "") {
    // The settings file holds Windows-1252 bytes.
    test::writeFile(settingsPath("LOJA"),
                    utf8ToCp1252("[backup]\r\ncaminhobkpmanual= " + manualFolder +
                                 " \r\ncaminhobkpmanual2=" + extraFolder +
                                 "\r\nenderecobackup=/elsewhere/\r\n"));
  }
  // PRGDATABACKUP and PRGNOMEBACKUP of the first PARGERAL row.
  std::vector<std::string> pargeral(const std::string& location) {
    return test::queryRows(location, env,
                           "select cast(PRGDATABACKUP as varchar(10)), PRGNOMEBACKUP from PARGERAL")
        .at(0);
  }
  // The server's date, as PRGDATABACKUP holds it.
  std::string serverDate(const std::string& location) {
    return test::queryValue(location, env,
                            "select cast(current_date as varchar(10)) from rdb$database");
  }
  bool balloonShown(const std::string& title, const std::string& text) {
    for (const auto& b : log.of(UiEvent::Kind::Balloon)) {
      if (b.title == title && b.text == text) return true;
    }
    return false;
  }

  const std::string kName = "ERP_081226_08_00_00";
  std::unique_ptr<test::DbTempDir> manual, extra;
};

TEST_F(ManualBackupTest, ArchivesInTheManualAndExtraFoldersAndTheBackupRecorded) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->state().ProgressMaximum = 10;
  writeFolders(manual->path().string() + "/", extra->path().string() + "/");
  form->runHandler("spbBackupClick");

  const std::string archive = manual->file(kName + ".zlib");
  ASSERT_TRUE(fs::exists(archive)) << test::readFile(settingsPath("LOJA"));
  EXPECT_EQ(test::readFile(archive), test::readFile(extra->file(kName + ".zlib")));
  EXPECT_EQ(entryNames(archive),
            (std::vector<std::string>{kName + ".fbk", "ERP_NFE_081226_08_00_00.fbk"}));
  EXPECT_FALSE(fs::exists(folder() + kName + ".fbk"));
  EXPECT_EQ(pargeral(sample.erp().mainLocation),
            (std::vector<std::string>{serverDate(sample.erp().mainLocation), kName + ".zlib"}));

  WindowModel& w = form->window();
  EXPECT_EQ(w.labelText("lbStatus"), "Cópia realizada com sucesso");
  EXPECT_EQ(w.labelColor("lbStatus"), LabelColor::Highlight);
  EXPECT_EQ(w.labelText("lbDiretorio"), manual->path().string() + "/");
  EXPECT_EQ(w.labelText("lbArquivo"), "ERP, ERP_NFE");
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Cópia realizada com sucesso!"});
  EXPECT_EQ(dialogs.shown[0].caption, "BackUp Dovra ");
  EXPECT_TRUE(balloonShown("BackUp Dovra", "BackUp em andamento"));
  EXPECT_TRUE(balloonShown("BackUp Dovra", "Cópia realizada com sucesso"));
  EXPECT_NE(w.hint().find("\r\rBackup do dia realizado com sucesso - Versão: 13"),
            std::string::npos);
  EXPECT_FALSE(w.controlVisible("Gauge1"));
  EXPECT_FALSE(form->state().BackupRunning);
  EXPECT_FALSE(w.menuItemVisible("Atualizardata1"));
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].state, RunReport::State::Started);
  EXPECT_EQ(log.reports[0].backupKind, "manual");
  EXPECT_EQ(log.reports[1].state, RunReport::State::Done);
  EXPECT_EQ(log.reports[1].archive, archive);
  EXPECT_EQ(log.reports[1].bytes, static_cast<int64_t>(fs::file_size(archive)));

  // The gauge went up to its maximum and stopped there, with a balloon per new percentage
  // that continued across the passes.
  int last = -1;
  for (const auto& e : log.of(UiEvent::Kind::Gauge)) {
    EXPECT_GE(e.value, last);
    last = e.value;
  }
  EXPECT_EQ(last, 10);
  EXPECT_TRUE(balloonShown("Backup em andamento", "Arquivos do sistema \rProgresso - 10%"));
  EXPECT_TRUE(balloonShown("Backup em andamento", "Arquivos do sistema \rProgresso - 100%"));
  EXPECT_FALSE(balloonShown("Backup em andamento", "Arquivos NF-e \rProgresso - 100%"));
}

TEST_F(ManualBackupTest, TheManualFolderAndTheStateDecideWhetherAndWhereItRuns) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  {
    SCOPED_TRACE("a click while a backup runs does nothing");
    form->state().BackupRunning.set(true);
    writeFolders(manual->path().string() + "/");
    log.events.clear();
    form->spbBackupClick();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(log.events.empty());
    form->state().BackupRunning.set(false);
  }
  {
    SCOPED_TRACE("a missing manual folder");
    writeFolders("/nao/existe/");
    form->spbBackupClick();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, "BackUp Dovra");
    EXPECT_EQ(dialogs.shown[0].text, "Diretório de backup não foi encontrado!");
    EXPECT_FALSE(form->state().BackupRunning);
    EXPECT_TRUE(log.of(UiEvent::Kind::Balloon).empty());
  }
  {
    SCOPED_TRACE("an empty manual folder asks for one for this run only; cancelled first");
    dialogs.shown.clear();
    writeFolders("");
    form->spbBackupClick();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "folder");
    EXPECT_EQ(dialogs.shown[0].caption, "Selecionar a pasta para backup");
    EXPECT_TRUE(log.of(UiEvent::Kind::Balloon).empty());
    // An estimate below zero shows no progress.
    form->state().ProgressMaximum = -330;
    dialogs.answer(manual->path().string());
    form->spbBackupClick();
    EXPECT_TRUE(fs::exists(manual->file(kName + ".zlib")));
    EXPECT_EQ(ProfileFile(settingsPath("LOJA")).readString("backup", "caminhobkpmanual"), "");
    // Without an extra folder, one archive.
    EXPECT_TRUE(fs::is_empty(extra->path()));
    for (const auto& b : log.of(UiEvent::Kind::Balloon)) EXPECT_NE(b.title, "Backup em andamento");
    for (const auto& g : log.of(UiEvent::Kind::Gauge)) EXPECT_EQ(g.maximum, 0);
  }
}

TEST_F(ManualBackupTest, AFailedPassRemovesItsBackupFilesKeepsItsLogAndRecordsNothing) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  form->state().NfeDatabasePath = "localhost:" + folder() + "missing.fdb";
  writeFolders(manual->path().string() + "/");
  const auto before = pargeral(sample.erp().mainLocation);
  form->spbBackupClick();

  // The main backup went well, but no archive holds it: it does not stay to fill the disk.
  EXPECT_FALSE(fs::exists(folder() + kName + ".fbk"));
  const std::string logText = test::readFile(folder() + "ERP_NFE_081226_08_00_00.txt");
  EXPECT_NE(logText.find("erro: "), std::string::npos);
  EXPECT_TRUE(fs::is_empty(manual->path()));
  EXPECT_EQ(pargeral(sample.erp().mainLocation), before);
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Erro ao efetuar backUp, verifique o log e tente novamente!"});
  EXPECT_TRUE(
      balloonShown("BackUp Dovra", "Erro ao efetuar backup, verifique o erro e tente novamente"));
  WindowModel& w = form->window();
  EXPECT_EQ(w.labelText("lbStatus"), "Erro - Verificar log na pasta do backup");
  EXPECT_EQ(w.labelColor("lbStatus"), LabelColor::Red);
  EXPECT_EQ(w.labelText("lbDiretorio"), folder());
  EXPECT_TRUE(w.windowVisible());
  EXPECT_NE(w.hint().find("Backup realizado com erro"), std::string::npos);
  EXPECT_FALSE(form->state().BackupRunning);
  // The run's outcome names the failed pass's log line and log.
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].state, RunReport::State::Started);
  EXPECT_EQ(log.reports[0].backupKind, "manual");
  EXPECT_EQ(log.reports[1].state, RunReport::State::Failed);
  EXPECT_EQ(log.reports[1].log, folder() + "ERP_NFE_081226_08_00_00.txt");
  EXPECT_EQ(log.reports[1].error.rfind("erro: ", 0), 0u);
  EXPECT_NE(logText.find(log.reports[1].error), std::string::npos);
}

TEST_F(ManualBackupTest, AFullManualFolderLeavesNoBackupFileAndRecordsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.sizeMb = 2;
    o.nfeDatabase = false;
  });
  useErp(sample.erp(), folder());
  const auto tiny = manual->path() / "disk";
  test::SmallDisk disk(tiny, "32k");
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs not available";
  writeFolders(tiny.string() + "/");
  // What runs cut short earlier left: their backup files go, everything else stays.
  const std::vector<std::pair<std::string, bool>> earlier = {
      {"ERP_010226_09_30_00.fbk", false}, {"ERP_NFE_010226_09_30_00.fbk", true},
      {"ERP_010226_09_30_00.txt", true},  {"ERP_0102_09_30_00.fbk", true},
      {"ERP_01022a_09_30_00.fbk", true},  {"ERP_010226_09_30_00.fbk.old", true},
      {"LOJA_010226_09_30_00.fbk", true}, {"ERP_AUTO.fbk", true}};
  for (const auto& [name, stays] : earlier) test::writeFile(folder() + name, "earlier");
  const auto before = pargeral(sample.erp().mainLocation);
  form->spbBackupClick();

  for (const auto& [name, stays] : earlier) EXPECT_EQ(fs::exists(folder() + name), stays) << name;
  EXPECT_FALSE(fs::exists(folder() + kName + ".fbk"));
  EXPECT_TRUE(fs::exists(folder() + kName + ".txt"));
  EXPECT_TRUE(fs::is_empty(tiny));
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Erro ao efetuar backUp, espaço em disco esgotado!"});
  EXPECT_TRUE(balloonShown("Erro ao efetuar BackUp", "Espaço em disco esgotado."));
  EXPECT_EQ(form->window().labelText("lbStatus"), "Espaço em disco esgotado");
  EXPECT_NE(form->window().hint().find("Backup do dia com erros, verifique!"), std::string::npos);
  // No archive exists: the backup is not recorded, and nothing offers to record it.
  EXPECT_EQ(pargeral(sample.erp().mainLocation), before);
  EXPECT_FALSE(form->window().menuItemVisible("Atualizardata1"));
}

TEST_F(ManualBackupTest, AnArchiveThatCannotBeWrittenIsNotRecorded) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());
  writeFolders(manual->path().string() + "/");
  // A folder of the archive's name stands where the archive would go.
  fs::create_directory(manual->file(kName + ".zlib"));
  const auto before = pargeral(sample.erp().mainLocation);
  form->spbBackupClick();

  EXPECT_TRUE(fs::is_directory(manual->file(kName + ".zlib")));
  EXPECT_FALSE(fs::exists(folder() + kName + ".fbk"));
  EXPECT_EQ(form->window().labelText("lbStatus"),
            "Erro ao copiar os arquivos - Verificar log na pasta do backup");
  EXPECT_EQ(pargeral(sample.erp().mainLocation), before);
  EXPECT_FALSE(form->window().menuItemVisible("Atualizardata1"));
  // Both passes went well, the packing did not: the run failed, with the packing's line.
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[1].state, RunReport::State::Failed);
  EXPECT_EQ(log.reports[1].log, folder() + kName + ".txt");
  EXPECT_NE(test::readFile(folder() + kName + ".txt").find(log.reports[1].error),
            std::string::npos);
}

TEST_F(ManualBackupTest, AccentedFoldersAndDatabaseNames) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.name = "Cópia ação"; });
  const test::DbTempDir bkp(env.dbDir, "Backup Diário");
  const test::DbTempDir out(env.dbDir, "Cópias manuais");
  useErp(sample.erp(), bkp.path().string() + "/");
  writeFolders(out.path().string() + "/");
  form->spbBackupClick();

  const std::string name = "Cópia ação_081226_08_00_00";
  const std::string archive = out.file(name + ".zlib");
  ASSERT_TRUE(fs::exists(archive)) << dialogs.messages().at(0);
  EXPECT_EQ(entryNames(archive),
            (std::vector<std::string>{name + ".fbk", "Cópia ação_NFE_081226_08_00_00.fbk"}));
  EXPECT_EQ(restoredCounts(archive, name + ".fbk"),
            test::sampleRowCounts(sample.erp().mainLocation, env));
  EXPECT_EQ(pargeral(sample.erp().mainLocation),
            (std::vector<std::string>{serverDate(sample.erp().mainLocation), name + ".zlib"}));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Cópia realizada com sucesso!"});
}

TEST_F(ManualBackupTest, AFailedRecordShowsAtualizarDataWhichThenRecordsTheDate) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  const std::string location = sample.erp().mainLocation;
  useErp(sample.erp(), folder());
  test::execSql(location, env, "alter table PARGERAL drop PRGNOMEBACKUP");
  writeFolders(manual->path().string() + "/");
  form->spbBackupClick();
  EXPECT_TRUE(fs::exists(manual->file(kName + ".zlib")));
  WindowModel& w = form->window();
  EXPECT_EQ(w.labelText("lbStatus"), "Data do backup não foi alterada.");
  EXPECT_TRUE(w.menuItemVisible("Atualizardata1"));
  const auto b = log.of(UiEvent::Kind::Balloon).back();
  EXPECT_EQ(b.title, "Erro ao atualizar data do BackUp");
  EXPECT_NE(b.text.find("PRGNOMEBACKUP"), std::string::npos) << b.text;
  EXPECT_NE(b.text.find("\rData do backup não foi alterada, clique no botão \"Atualizar data\"."),
            std::string::npos)
      << b.text;

  // The menu entry is now reachable, and recording twice works twice.
  test::execSql(location, env, "update PARGERAL set PRGDATABACKUP = null");
  w.setMenuAttached(true);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(form->runHandler("Atualizardata1Click"));
    EXPECT_EQ(w.labelText("lbStatus"), "Backup realizado com sucesso.");
    EXPECT_EQ(log.of(UiEvent::Kind::Balloon).back().text, "Data do backup atualizada com sucesso.");
    EXPECT_EQ(log.of(UiEvent::Kind::Balloon).back().icon, BalloonIcon::Error);
  }
  EXPECT_EQ(
      test::queryValue(location, env, "select cast(PRGDATABACKUP as varchar(10)) from PARGERAL"),
      serverDate(location));

  // With the server down the override says to try again, after the connect error's text.
  form->state().DatabasePath = "localhost/3999:/var/db/ERP.fdb";
  form->Atualizardata1Click();
  EXPECT_EQ(w.labelText("lbStatus"), "Data do backup não foi alterada.");
  const auto down = log.of(UiEvent::Kind::Balloon).back();
  EXPECT_EQ(down.title, "Erro ao atualizar data do BackUp");
  EXPECT_EQ(down.text.substr(down.text.size() - 17), "\rTente novamente.");
  EXPECT_GT(down.text.size(), 30u);
}

TEST_F(ManualBackupTest, WithoutFollowingTheCompleteFilesArePackedIntoBothFolders) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  writeFolders(manual->path().string() + "/", extra->path().string() + "/");
  form->manualPacking.whileWritten = false;
  form->runHandler("spbBackupClick");

  const std::string archive = manual->file(kName + ".zlib");
  ASSERT_TRUE(fs::exists(archive));
  EXPECT_EQ(test::readFile(archive), test::readFile(extra->file(kName + ".zlib")));
  EXPECT_EQ(restoredCounts(archive, kName + ".fbk"),
            test::sampleRowCounts(sample.erp().mainLocation, env));
  EXPECT_FALSE(fs::exists(folder() + kName + ".fbk"));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Cópia realizada com sucesso!"});
}

}  // namespace
}  // namespace dovra
