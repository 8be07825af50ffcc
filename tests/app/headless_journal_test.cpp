// The real program, headless, against the real Firebird server and pyftpdlib: the events
// an administrator follows in the journal (backups started, done and failed, the upload
// done or failed, the documents exported), with the sizes and paths of what the runs left.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "archive/archive_reader.h"
#include "headless/json_line.h"
#include "support/firebird_env.h"
#include "support/program_process.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::ProgramProcess;
namespace fs = std::filesystem;

class HeadlessJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    test::useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    home = std::make_unique<test::DbTempDir>(env.dbDir, "journal");
    inst = std::make_unique<test::Installation>(home->path() / "inst", "LOJA");
    for (const char* d : {"bkp", "manual", "ftp", "nfeftp", "web", "erp"}) {
      fs::create_directories(home->path() / d);
      fs::permissions(home->path() / d, fs::perms::all);
    }
    ftp = std::make_unique<test::FtpTestServer>(home->path() / "ftp");
    nfeFtp = std::make_unique<test::FtpTestServer>(home->path() / "nfeftp");
    web = std::make_unique<test::HttpTestServer>(home->path() / "web");
  }

  // The settings of the sample ERP, with no daily upload time: the upload runs only when
  // its button asks for it.
  void writeSettings(const test::SampleErp& erp) {
    test::SampleSettings s;
    s.database = erp.mainLocation;
    s.nfeDatabase = erp.nfeLocation;
    s.user = env.user;
    s.password = env.password;
    s.backup = {{"enderecobackup", bkp() + "/"},
                {"caminhobkpmanual", (home->path() / "manual").string() + "/"},
                {"localremoto", "L"},
                {"tempo1", "09:30"},
                {"tempo2", "16:30"},
                {"tempo3", ""}};
    test::writeSettingsFile(inst->settings, s);
  }

  std::map<std::string, std::string> programEnv(int uploadPort) const {
    auto e = inst->env();
    e["DOVRA_FTP_HOST"] = "127.0.0.1";
    e["DOVRA_FTP_PORT"] = std::to_string(uploadPort);
    e["DOVRA_NFE_FTP_PORT"] = std::to_string(nfeFtp->port());
    e["DOVRA_WEB_HOST"] = web->hostPort();
    return e;
  }

  std::string bkp() const { return (home->path() / "bkp").string(); }

  // The line at `index`, or "" when there is none.
  static std::string lineAt(ProgramProcess& p, int index) {
    const auto lines = p.lines();
    return index >= 0 && static_cast<size_t>(index) < lines.size() ? lines[index] : "";
  }

  // The memo and run events of one backup run have ended once the memo is cleared and the
  // busy flag is down.
  static void waitForRunEnd(ProgramProcess& p, int from) {
    ASSERT_GE(p.waitFor({"\"event\":\"memo_clear\"", "MemoBackup"}, 30s, from), 0) << p.allOutput();
    std::this_thread::sleep_for(1s);
  }

  test::FirebirdEnv env;
  std::unique_ptr<test::DbTempDir> home;
  std::unique_ptr<test::Installation> inst;
  std::unique_ptr<test::FtpTestServer> ftp, nfeFtp;
  std::unique_ptr<test::HttpTestServer> web;
};

TEST_F(HeadlessJournal, BackupsUploadAndExportEachSayWhatTheyLeftAndHowLarge) {
  const test::TestErp sample(env, [this](test::SampleErpOptions& o) {
    o.parendexes = (home->path() / "erp").string() + "/";
    o.unsentNfe = 3;
  });
  writeSettings(sample.erp());
  ProgramProcess p(programEnv(ftp->port()));
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();

  // The automatic backup: started, then done with the archive it replaced and its size.
  p.send("Label8DblClick");
  p.send("SpeedButton4Click");
  const int started =
      p.waitFor({"{\"event\":\"backup\",\"state\":\"started\","
                 "\"kind\":\"automatic\"}"});
  ASSERT_GE(started, 0) << p.allOutput();
  const int done = p.waitFor({"\"event\":\"backup\"", "\"state\":\"done\""}, 60s, started);
  ASSERT_GT(done, started) << p.allOutput();
  waitForRunEnd(p, done);
  const std::string archive = bkp() + "/ERP.zlib";
  ASSERT_EQ(listArchive(archive).size(), 2u);
  const auto archiveBytes = static_cast<int64_t>(fs::file_size(archive));
  EXPECT_EQ(lineAt(p, done), JsonLine("backup")
                                 .add("state", "done")
                                 .add("kind", "automatic")
                                 .add("archive", archive)
                                 .add("bytes", archiveBytes)
                                 .str());
  EXPECT_EQ(p.waitFor({"\"event\":\"backup\"", "\"state\":\"failed\""}, 10ms), -1) << p.allOutput();

  // The daily upload: done with the archive, the bytes the server holds and where.
  p.send("SpeedButton3Click");
  const int uploaded = p.waitFor({"\"event\":\"upload\""}, 30s, done);
  ASSERT_GT(uploaded, done) << p.allOutput() << ftp->log();
  const std::string uploadLine = lineAt(p, uploaded);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(uploadLine, m, std::regex("\"remote\":\"([^\"]+)\"")))
      << uploadLine;
  const fs::path stored = home->path() / "ftp" / m[1].str().substr(1);
  ASSERT_TRUE(fs::exists(stored)) << uploadLine;
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(stored)), archiveBytes);
  EXPECT_EQ(test::readFile(stored), test::readFile(archive));
  EXPECT_EQ(uploadLine, JsonLine("upload")
                            .add("state", "done")
                            .add("archive", archive)
                            .add("bytes", archiveBytes)
                            .add("remote", m[1].str())
                            .str());
  EXPECT_EQ(stored.filename(), "ERP.zlib");
  // Already sent today: a second request sends nothing and says nothing.
  p.send("SpeedButton3Click");
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(p.waitFor({"\"event\":\"upload\""}, 10ms, uploaded + 1), -1) << p.allOutput();

  // The export (this tick's, or the timer's own if it came first): how many documents
  // went, once they are marked sent.
  p.send("Timer1Timer");
  const int exported = p.waitFor({"\"event\":\"export\""}, 30s);
  ASSERT_GE(exported, 0) << p.allOutput();
  EXPECT_EQ(lineAt(p, exported), "{\"event\":\"export\",\"documents\":3}");
  EXPECT_EQ(test::queryValue(sample.erp().nfeLocation, env,
                             "select count(*) from NFE where NFEFTP = 'N'"),
            "0");
  size_t files = 0;
  for (const auto& f : fs::recursive_directory_iterator(home->path() / "nfeftp")) {
    files += f.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 3u);

  // The manual backup: started, then done with its time-stamped archive.
  p.send("spbBackupClick");
  const int manualStart = p.waitFor({"{\"event\":\"backup\",\"state\":\"started\","
                                     "\"kind\":\"manual\"}"},
                                    20s, uploaded);
  ASSERT_GT(manualStart, uploaded) << p.allOutput();
  const int manualDone = p.waitFor(
      {"\"event\":\"backup\"", "\"kind\":\"manual\"", "\"state\":\"done\""}, 60s, manualStart);
  ASSERT_GT(manualDone, manualStart) << p.allOutput();
  std::vector<fs::path> manual;
  for (const auto& f : fs::directory_iterator(home->path() / "manual")) manual.push_back(f.path());
  ASSERT_EQ(manual.size(), 1u);
  EXPECT_EQ(lineAt(p, manualDone), JsonLine("backup")
                                       .add("state", "done")
                                       .add("kind", "manual")
                                       .add("archive", manual[0].string())
                                       .add("bytes", static_cast<int64_t>(fs::file_size(manual[0])))
                                       .str());
  EXPECT_GE(p.waitFor({"\"event\":\"message\"", "Cópia realizada com sucesso!"}, 10s, manualStart),
            0);

  // No event carries the password.
  EXPECT_EQ(p.allOutput().find(env.password), std::string::npos);
  p.send("Sair1Click");
  EXPECT_EQ(p.waitExit(10s), 0);
}

TEST_F(HeadlessJournal, AFailedBackupGivesItsLogLineAndAFailedUploadItsError) {
  const test::TestErp sample(env, [this](test::SampleErpOptions& o) {
    o.parendexes = (home->path() / "erp").string() + "/";
    o.unsentNfe = 0;
  });
  writeSettings(sample.erp());
  // The server cannot write the main database's backup file: a folder holds its name.
  fs::create_directories(bkp() + "/ERP_AUTO.fbk");
  fs::permissions(bkp() + "/ERP_AUTO.fbk", fs::perms::all);
  const std::string archive = bkp() + "/ERP.zlib";
  test::writeFile(archive, "an earlier archive");
  ProgramProcess p(programEnv(test::refusedLoopbackPort()));
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();

  p.send("Label8DblClick");
  p.send("SpeedButton4Click");
  const int started =
      p.waitFor({"{\"event\":\"backup\",\"state\":\"started\","
                 "\"kind\":\"automatic\"}"});
  ASSERT_GE(started, 0) << p.allOutput();
  const int failed = p.waitFor({"\"event\":\"backup\"", "\"state\":\"failed\""}, 60s, started);
  ASSERT_GT(failed, started) << p.allOutput();
  // A failed run says so last, once its memo is cleared.
  EXPECT_EQ(lineAt(p, failed - 1), "{\"event\":\"memo_clear\",\"name\":\"MemoBackup\"}");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(p.waitFor({"\"event\":\"backup\"", "\"state\":\"done\""}, 10ms, started), -1)
      << p.allOutput();
  // The failure's line is the memo's "erro: " line, and the log named holds it.
  const int memoLine = p.waitFor(
      {"\"event\":\"memo\"", "\"name\":\"MemoBackup\"", "\"line\":\"erro: "}, 10ms, started);
  ASSERT_GT(memoLine, started) << p.allOutput();
  std::smatch m;
  const std::string memo = lineAt(p, memoLine);
  ASSERT_TRUE(std::regex_search(memo, m, std::regex("\"line\":(\".*\")\\}$"))) << memo;
  const std::string log = bkp() + "/ERP_AUTO.txt";
  EXPECT_EQ(lineAt(p, failed),
            "{\"event\":\"backup\",\"state\":\"failed\",\"kind\":\"automatic\","
            "\"error\":" +
                m[1].str() + "," + "\"log\":" + jsonString(log) + "}");
  ASSERT_TRUE(fs::exists(log));
  EXPECT_NE(test::readFile(log).find("erro: "), std::string::npos);
  EXPECT_EQ(test::readFile(archive), "an earlier archive");

  // The upload cannot reach the server: failed, with the error the transfer log shows.
  p.send("SpeedButton3Click");
  const int upload = p.waitFor({"\"event\":\"upload\""}, 30s, failed);
  ASSERT_GT(upload, failed) << p.allOutput();
  const std::string line = lineAt(p, upload);
  ASSERT_TRUE(std::regex_search(line, m, std::regex("\"error\":(\"[^\"]+\")\\}$"))) << line;
  EXPECT_EQ(line, "{\"event\":\"upload\",\"state\":\"failed\",\"archive\":" + jsonString(archive) +
                      ",\"error\":" + m[1].str() + "}");
  const std::string loggedError = m[1].str().insert(1, "Erro: ");
  EXPECT_GE(p.waitFor({"\"event\":\"memo\"", "\"name\":\"mLog\"", "\"line\":" + loggedError}, 10ms,
                      failed),
            0)
      << p.allOutput();
  EXPECT_TRUE(fs::is_empty(home->path() / "ftp"));

  p.send("Sair1Click");
  EXPECT_EQ(p.waitExit(10s), 0);
}

// The check of the automatic archive, as the journal shows it: a program killed while the
// check restores leaves the live databases as they were; its next start removes the scratch
// database, says the check was cut short, and the next idle tick checks the archive whole.
TEST_F(HeadlessJournal, AnArchiveCheckKilledMidRestoreIsCleanedUpAndDoneAgain) {
  const test::TestErp sample(env, [this](test::SampleErpOptions& o) {
    o.sizeMb = 20;
    o.parendexes = (home->path() / "erp").string() + "/";
  });
  writeSettings(sample.erp());
  const auto liveCounts = test::sampleRowCounts(sample.erp().mainLocation, env);
  const std::string archive = bkp() + "/ERP.zlib";
  const fs::path scratch = bkp() + "/ERP_VERIFICA";
  {
    ProgramProcess p(programEnv(ftp->port()));
    ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();
    p.send("Label8DblClick");
    p.send("SpeedButton4Click");
    const int done = p.waitFor({"\"event\":\"backup\"", "\"state\":\"done\""}, 120s);
    ASSERT_GE(done, 0) << p.allOutput();
    waitForRunEnd(p, done);
    p.send("Timer1Timer");
    // Killed once the server writes the scratch database.
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!fs::exists(scratch / "ERP_VERIFICA.fdb") && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(fs::exists(scratch / "ERP_VERIFICA.fdb")) << p.allOutput();
    p.signal(SIGKILL);
    EXPECT_EQ(p.waitFor({"\"event\":\"verify\""}, 10ms), -1) << p.allOutput();
  }
  EXPECT_EQ(test::sampleRowCounts(sample.erp().mainLocation, env), liveCounts);

  ProgramProcess p(programEnv(ftp->port()));
  const int cut = p.waitFor({"\"event\":\"verify\"", "\"state\":\"failed\""}, 30s);
  ASSERT_GE(cut, 0) << p.allOutput();
  EXPECT_NE(lineAt(p, cut).find("interrompida"), std::string::npos) << lineAt(p, cut);
  EXPECT_NE(lineAt(p, cut).find("\"archive\":" + jsonString(archive)), std::string::npos);
  EXPECT_FALSE(fs::exists(scratch));
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();
  p.send("Timer1Timer");
  const int verified = p.waitFor({"\"event\":\"verify\"", "\"state\":\"done\""}, 120s, cut + 1);
  ASSERT_GT(verified, cut) << p.allOutput();
  const std::string line = lineAt(p, verified);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      line, m,
      std::regex("^\\{\"event\":\"verify\",\"state\":\"done\",\"archive\":(\"[^\"]+\"),"
                 "\"tables\":([0-9]+),\"records\":([0-9]+),\"seconds\":[0-9]+\\.[0-9]\\}$")))
      << line;
  EXPECT_EQ(m[1].str(), jsonString(archive));
  int64_t records = 0;
  for (const auto& [table, count] : liveCounts) {
    if (table.find(' ') == std::string::npos) records += count;
  }
  EXPECT_EQ(std::stoll(m[3].str()), records);
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(test::readFile(bkp() + "/ERP.verified.zlib"), test::readFile(archive));
  EXPECT_GE(p.waitFor({"\"event\":\"hint\"", "Backup verificado: "}, 5s, verified - 5), 0);
  p.send("Sair1Click");
  EXPECT_EQ(p.waitExit(), 0);
}

}  // namespace
}  // namespace dovra
