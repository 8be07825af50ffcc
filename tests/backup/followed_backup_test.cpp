// Backups packed while the server writes them, checked against the server's own tools.
#include <cstdio>
#include <memory>

#include "archive/parallel_deflate.h"
#include "backup/backup_fixture.h"
#include "backup/backup_pass.h"
#include "backup/packing_thread.h"
#include "firebird/service_target.h"
#include "form/backup_workers.h"

namespace dovra {
namespace {

using test::BackupFixture;
using test::TestErp;
namespace fs = std::filesystem;

// What `command` prints on its standard output, line by line; fails the test on a status
// other than 0.
std::vector<std::string> outputLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    return lines;
  }
  std::string line;
  for (int c; (c = std::fgetc(p)) != EOF;) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  EXPECT_EQ(pclose(p), 0) << command;
  return lines;
}

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string withoutHost(const std::string& location) {
  const auto colon = location.find(':');
  return colon == std::string::npos ? location : location.substr(colon + 1);
}

std::vector<std::string> memoLinesUntil(const test::EventLog& log, const std::string& last) {
  std::vector<std::string> lines;
  for (const auto& e : log.of(UiEvent::Kind::Memo)) {
    if (e.text == last) break;
    lines.push_back(e.text);
  }
  return lines;
}

TEST_F(BackupFixture, TheServersVerboseLinesReachTheLogAsFbsvcmgrPrintsThem) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  useErp(sample.erp(), folder());

  std::vector<std::string> expected =
      outputLines("fbsvcmgr localhost:service_mgr -user " + shellQuoted(env.user) + " -password " +
                  shellQuoted(env.password) + " action_backup dbname " +
                  shellQuoted(withoutHost(sample.erp().mainLocation)) + " bkp_file " +
                  shellQuoted(folder() + "ERP_AUTO.fbk") + " verbose");
  ASSERT_GT(expected.size(), 20u);
  fs::remove(folder() + "ERP_AUTO.fbk");

  runAutomaticBackup();
  ASSERT_TRUE(fs::exists(folder() + "ERP.zlib"));
  std::vector<std::string> memo =
      memoLinesUntil(log, "Copia realizada com sucesso para " + sample.erp().mainLocation);
  // The service's last line is the empty one that ends its output.
  ASSERT_FALSE(memo.empty());
  EXPECT_EQ(memo.back(), "");
  memo.pop_back();
  while (!expected.empty() && expected.back().empty()) expected.pop_back();
  // Line by line the service hands each line with its line end turned into a blank;
  // fbsvcmgr reads the output as one text.
  for (std::string& line : expected) line += ' ';
  EXPECT_EQ(memo, expected);
}

TEST_F(BackupFixture, AServerBackupFollowedWhileWrittenUnpacksIdenticalAndRestoresWithGbak) {
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.sizeMb = 12;
    o.nfeDatabase = false;
    o.name = "Loja Matriz";
  });
  const std::string backup = folder() + "Loja Matriz_AUTO.fbk";
  const std::string archive = folder() + "Loja Matriz.zlib";
  test::writeFile(archive, "previous archive");

  PackingThread packer({backup}, archive, {}, 2, FollowOptions{});
  {
    TIBBackupService service;
    int lines = 0;
    runBackupPass(service, env.user, env.password,
                  automaticBackupTarget("L", sample.erp().mainLocation, folder()), backup,
                  [&](const std::string&) {
                    ++lines;
                    packer.end(0).alive();
                  });
    packer.end(0).finished();
    EXPECT_GT(lines, 20);
  }
  const GrowingPackResult result = packer.wait();
  EXPECT_FALSE(result.repacked) << result.reason;
  ASSERT_GT(fs::file_size(backup), kParallelThreshold);

  test::DbTempDir out(env.dbDir, "unpack");
  DecompressFiles(archive, out.path().string() + "/");
  EXPECT_EQ(test::readFile(out.file("Loja Matriz_AUTO.fbk")), test::readFile(backup));

  const std::string restored = out.file("restored by gbak.fdb");
  const auto status = std::system(
      ("gbak -c -user " + shellQuoted(env.user) + " -password " + shellQuoted(env.password) + " " +
       shellQuoted(out.file("Loja Matriz_AUTO.fbk")) + " " + shellQuoted("localhost:" + restored))
          .c_str());
  ASSERT_EQ(status, 0);
  EXPECT_EQ(test::sampleRowCounts("localhost:" + restored, env),
            test::sampleRowCounts(sample.erp().mainLocation, env));
}

TEST_F(BackupFixture, AFailedPassWhileFollowedLeavesThePreviousArchiveAndNoTemporary) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  const std::string archive = folder() + "ERP.zlib";
  test::writeFile(archive, "previous archive");

  // The NF-e database cannot be read by the server: the main file was already being packed
  // when its pass failed.
  fs::permissions(sample.erp().nfeFile, fs::perms::none);
  runAutomaticBackup();
  fs::permissions(sample.erp().nfeFile, fs::perms::owner_read | fs::perms::owner_write);

  EXPECT_EQ(test::readFile(archive), "previous archive");
  // The main backup file no archive holds does not stay to fill the disk.
  EXPECT_FALSE(fs::exists(folder() + "ERP_AUTO.fbk"));
  for (const auto& entry : fs::directory_iterator(backupDir->path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
  EXPECT_NE(test::readFile(folder() + "ERP_NFE_AUTO.txt").find("erro: "), std::string::npos);
  EXPECT_EQ(form->window().labelText("lbStatus"), "Erro - Verificar log");
  EXPECT_EQ(form->window().labelColor("lbStatus"), LabelColor::Red);
  EXPECT_FALSE(form->state().BackupRunning);
}

TEST_F(BackupFixture, WithoutFollowingTheCompleteFilesArePackedAfterTheBackup) {
  const TestErp sample(env);
  useErp(sample.erp(), folder());
  ASSERT_TRUE(form->state().BackupRunning.tryClaim());
  Tauto(form->workerContext(), autoBackupHooks(*form), form->state().snapshot(), 1,
        BackupPacking{false, {}})
      .Execute();
  loop.processEvents();

  const std::string archive = folder() + "ERP.zlib";
  EXPECT_EQ(entryNames(archive), (std::vector<std::string>{"ERP_AUTO.fbk", "ERP_NFE_AUTO.fbk"}));
  EXPECT_FALSE(fs::exists(folder() + "ERP_AUTO.fbk"));
  EXPECT_EQ(restoredCounts(archive, "ERP_AUTO.fbk"),
            test::sampleRowCounts(sample.erp().mainLocation, env));
  EXPECT_EQ(form->window().labelText("lbStatus"), "Backup realizado com sucesso");
}

}  // namespace
}  // namespace dovra
