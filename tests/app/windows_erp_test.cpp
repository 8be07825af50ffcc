// backupdovra.exe under Wine as an office runs it: copied into the ERP's program folder,
// its settings in C:\windows (Windows-1252, CRLF, the ERP's own sections around its keys),
// the ERP's databases and the backup folders in accented folders of drive C:, the database
// client reached as gds32.dll (the test client library for Wine, which takes it to the real
// server). Driven through its console front end: the jobs of a day, each checked in what it
// left (archives, restored databases, rows of the ERP, files on the FTP servers, requests
// to the web server), and the start without any client library.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_reader.h"
#include "fixtures/sample_erp.h"
#include "headless/json_line.h"
#include "platform/text_codec.h"
#include "support/firebird_env.h"
#include "support/program_process.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::ProgramProcess;
namespace fs = std::filesystem;

// Wine starts a program slowly; the bounds are for a machine under load.
constexpr auto kStart = 90s;
constexpr auto kJob = 120s;

fs::path u8(const std::string& utf8) {
  return fs::u8path(utf8);
}

std::string utf8(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

// The line at `index`, or "" when there is none.
std::string lineAt(ProgramProcess& p, int index) {
  const auto lines = p.lines();
  return index >= 0 && static_cast<size_t>(index) < lines.size() ? lines[index] : "";
}

std::vector<std::string> entryNames(const fs::path& archive) {
  std::vector<std::string> names;
  for (const ArchiveEntry& e : listArchive(utf8(archive))) names.push_back(e.name);
  return names;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& f : fs::recursive_directory_iterator(folder)) {
    if (f.is_regular_file()) files.push_back(f.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The folder's host path with Wine's drive links resolved, for a program of the host.
std::string realHostPath(const fs::path& path) {
  const test::HostResult r = test::runOnHost("realpath -m '" + test::hostPath(utf8(path)) + "'");
  std::string out = r.output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// An installation of one office on drive C: of the prefix. Every folder holds accented
// names; the identifier differs per test, so the settings files in C:\windows do not meet.
class WindowsOffice : public test::FirebirdTest {
 protected:
  void SetUp() override {
    FirebirdTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    static int count = 0;
    id = "LOJA" + std::to_string(++count);
    const std::string tag = " " + std::to_string(GetCurrentProcessId()) + "-" + id;
    programDir = u8("C:\\Dovra Sistemas" + tag + "\\Aplicação");
    dataDir = u8("C:\\Dados Ação" + tag);
    backups = u8("C:\\Cópia de Segurança" + tag);
    erpDir = u8("C:\\Sistema Gestão" + tag);
    servers = u8("C:\\Servidores" + tag);
    for (const fs::path& d :
         {programDir / "CONFIGURACAO", dataDir, backups / u8("Automático"), backups / "Manual",
          backups / "Pen drive", erpDir, servers / "ftp", servers / "nfeftp", servers / "web"}) {
      fs::create_directories(d);
    }
    program = programDir / "backupdovra.exe";
    fs::copy_file(u8(std::string(DOVRA_BINARY_DIR) + "/backupdovra.exe"), program);
    test::writeIdentifierFile(programDir / "CONFIGURACAO" / "application.dvk", id);
    settings = u8("C:\\windows\\" + id + ".dvk");
  }

  void TearDown() override {
    std::error_code ec;
    for (const fs::path& d : {programDir.parent_path(), dataDir, backups, erpDir, servers}) {
      fs::remove_all(d, ec);
    }
    fs::remove(settings, ec);
  }

  test::SampleErp makeErp(int unsentNfe) {
    test::SampleErpOptions o;
    o.dir = dataDir;
    o.host.clear();  // plain locations: a Windows client takes them to the local server
    o.user = env.user;
    o.password = env.password;
    o.parendexes = utf8(erpDir) + "\\";
    o.unsentNfe = unsentNfe;
    return test::makeSampleErp(o);
  }

  void writeSettings(const test::SampleErp& erp) {
    test::SampleSettings s;
    s.database = erp.mainLocation;
    s.nfeDatabase = erp.nfeLocation;
    s.user = env.user;
    s.password = env.password;
    s.backup = {{"enderecobackup", utf8(backups / u8("Automático")) + "\\"},
                {"caminhobkpmanual", utf8(backups / "Manual") + "\\"},
                {"caminhobkpmanual2", utf8(backups / "Pen drive") + "\\"},
                {"localremoto", "L"},
                {"tempo1", "09:30"},
                {"tempo2", "16:30"},
                {"tempo3", ""}};
    test::writeSettingsFile(settings, s);
  }

  // The value of `sql` once it is `expected`, or the last one read when it is not within
  // 30 s.
  std::string valueSoon(const std::string& location, const std::string& sql,
                        const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    std::string value = test::queryValue(location, env, sql);
    while (value != expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(200ms);
      value = test::queryValue(location, env, sql);
    }
    return value;
  }

  std::string id;
  fs::path programDir, dataDir, backups, erpDir, servers, program, settings;
};

// The jobs of a day in one run of the program: the automatic backup, the unpacking of its
// archive and the restore of its main backup, the manual backup with its extra copy, the
// daily upload with the date it writes, the NF-e export and the documents it marks, a
// change on the settings page, and the exit.
TEST_F(WindowsOffice, TheJobsOfADayAgainstTheRealServer) {
  const test::SampleErp erp = makeErp(3);
  writeSettings(erp);
  const std::string settingsBefore = test::readFile(settings);
  const auto mainCounts = test::sampleRowCounts(erp.mainLocation, env);
  const std::string nfeRows = test::queryValue(erp.nfeLocation, env, "select count(*) from NFE");
  const test::FtpTestServer ftp(servers / "ftp");
  const test::FtpTestServer nfeFtp(servers / "nfeftp");
  const test::HttpTestServer web(servers / "web");
  const std::map<std::string, std::string> programEnv{
      {"DOVRA_FTP_HOST", "127.0.0.1"},
      {"DOVRA_FTP_PORT", std::to_string(ftp.port())},
      {"DOVRA_NFE_FTP_PORT", std::to_string(nfeFtp.port())},
      {"DOVRA_WEB_HOST", web.hostPort()}};
  ProgramProcess p(programEnv, {"--headless"}, utf8(program));
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, kStart), 0) << p.allOutput();
  EXPECT_GE(p.waitFor({"\"event\":\"hint\"", "Empresa: " + test::sampleCompanyName(1, false)}, 1s),
            0)
      << p.allOutput();

  // The automatic backup: both databases in the archive, which restores with the host's
  // gbak through the server, with the rows of the database.
  const fs::path automatic = backups / u8("Automático");
  const fs::path archive = automatic / "ERP.zlib";
  p.send("Label8DblClick");
  p.send("SpeedButton4Click");
  const int started =
      p.waitFor({"{\"event\":\"backup\",\"state\":\"started\","
                 "\"kind\":\"automatic\"}"});
  ASSERT_GE(started, 0) << p.allOutput();
  const int done = p.waitFor({"\"event\":\"backup\"", "\"state\":\"done\""}, kJob, started);
  ASSERT_GT(done, started) << p.allOutput();
  ASSERT_GE(p.waitFor({"\"event\":\"memo_clear\"", "MemoBackup"}, 30s, done), 0);
  std::this_thread::sleep_for(1s);  // the busy flag goes down just after the memo clears
  EXPECT_EQ(lineAt(p, done), JsonLine("backup")
                                 .add("state", "done")
                                 .add("kind", "automatic")
                                 .add("archive", utf8(archive))
                                 .add("bytes", static_cast<int64_t>(fs::file_size(archive)))
                                 .str());
  EXPECT_EQ(entryNames(archive), (std::vector<std::string>{"ERP_AUTO.fbk", "ERP_NFE_AUTO.fbk"}));
  // The archive, and what the backup knew of it for the check in idle time.
  EXPECT_EQ(filesIn(automatic), (std::vector<fs::path>{archive, automatic / "ERP.zlib.verify"}));

  // Unpacked by the program into the archive's folder, its main backup restored by the
  // program beside it; then the host's gbak restores both backup files.
  p.send("answer " + utf8(archive));
  p.send("SpeedButton10Click");
  ASSERT_GE(p.waitFor({"\"event\":\"edit\"", "Edit3", jsonString(utf8(archive))}, 20s), 0)
      << p.allOutput();
  const fs::path mainBackup = automatic / "ERP_AUTO.fbk";
  for (const std::string& line :
       std::vector<std::string>{"answer yes", "answer " + utf8(mainBackup), "answer ok",
                                "answer no", "SpeedButton11Click"}) {
    p.send(line);
  }
  const int restored =
      p.waitFor({"\"event\":\"message\"", "\"text\":\"Processo concluído\""}, kJob);
  ASSERT_GE(restored, 0) << p.allOutput();
  ASSERT_GE(
      p.waitFor({"\"event\":\"message\"", "RESTORE da base", "\"answer\":\"no\""}, 20s, restored),
      0)
      << p.allOutput();
  EXPECT_EQ(p.waitFor({"\"event\":\"memo\"", "memoRestore", "\"line\":\"Erro: "}, 10ms), -1)
      << p.allOutput();
  EXPECT_EQ(test::sampleRowCounts(utf8(automatic / "ERP_AUTO.fdb"), env), mainCounts);
  for (const char* name : {"ERP_AUTO", "ERP_NFE_AUTO"}) {
    const fs::path byGbak = automatic / u8(std::string(name) + " gbak.fdb");
    const test::HostResult gbak = test::runOnHost(
        "LC_ALL=C.UTF-8 gbak -c -se localhost:service_mgr -user '" + env.user + "' -password '" +
        env.password + "' '" + realHostPath(automatic / (std::string(name) + ".fbk")) + "' '" +
        realHostPath(byGbak) + "'");
    ASSERT_EQ(gbak.status, 0) << gbak.output;
  }
  EXPECT_EQ(test::sampleRowCounts(utf8(automatic / u8("ERP_AUTO gbak.fdb")), env), mainCounts);
  EXPECT_EQ(test::queryValue(utf8(automatic / u8("ERP_NFE_AUTO gbak.fdb")), env,
                             "select count(*) from NFE"),
            nfeRows);

  // The manual backup with its extra copy: the same archive in both folders, the backup
  // files gone from the automatic folder, and the archive's name recorded in the ERP.
  p.send("spbBackupClick");
  const int manualStart =
      p.waitFor({"{\"event\":\"backup\",\"state\":\"started\",\"kind\":\"manual\"}"}, 20s, done);
  ASSERT_GT(manualStart, done) << p.allOutput();
  const int manualDone = p.waitFor(
      {"\"event\":\"backup\"", "\"kind\":\"manual\"", "\"state\":\"done\""}, kJob, manualStart);
  ASSERT_GT(manualDone, manualStart) << p.allOutput();
  EXPECT_GE(p.waitFor({"\"event\":\"message\"", "Cópia realizada com sucesso!"}, 10s, manualStart),
            0);
  ASSERT_GE(
      p.waitFor({"\"event\":\"hint\"", "Backup do dia realizado com sucesso"}, 20s, manualStart), 0)
      << p.allOutput();
  // The archive's name is recorded after the outcome is shown; the run ends with the memo
  // cleared.
  ASSERT_GE(p.waitFor({"\"event\":\"memo_clear\"", "MemoBackup"}, 30s, manualDone), 0)
      << p.allOutput();
  std::this_thread::sleep_for(1s);
  const std::vector<fs::path> manual = filesIn(backups / "Manual");
  const std::vector<fs::path> extra = filesIn(backups / "Pen drive");
  ASSERT_EQ(manual.size(), 1u);
  ASSERT_EQ(extra.size(), 1u);
  EXPECT_EQ(manual[0].filename(), extra[0].filename());
  EXPECT_EQ(test::readFile(manual[0]), test::readFile(extra[0]));
  const std::string stamped = utf8(manual[0].stem());
  EXPECT_TRUE(std::regex_match(stamped, std::regex("ERP_\\d{6}_\\d{2}_\\d{2}_\\d{2}"))) << stamped;
  EXPECT_EQ(entryNames(manual[0]),
            (std::vector<std::string>{stamped + ".fbk", "ERP_NFE" + stamped.substr(3) + ".fbk"}));
  EXPECT_EQ(lineAt(p, manualDone), JsonLine("backup")
                                       .add("state", "done")
                                       .add("kind", "manual")
                                       .add("archive", utf8(manual[0]))
                                       .add("bytes", static_cast<int64_t>(fs::file_size(manual[0])))
                                       .str());
  for (const fs::path& f : filesIn(automatic)) {
    EXPECT_EQ(utf8(f.filename()).find(stamped), std::string::npos) << utf8(f);
  }
  const auto recorded = test::queryRows(
      erp.mainLocation, env, "select PRGNOMEBACKUP, PRGDATABACKUP, current_date from PARGERAL");
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0][0], stamped + ".zlib");
  EXPECT_EQ(recorded[0][1], recorded[0][2]);

  // The daily upload: the archive on the FTP server under its final name, the date
  // reported to the web server, and the server's date written into the ERP.
  p.send("SpeedButton3Click");
  const int uploaded = p.waitFor({"\"event\":\"upload\""}, kJob, manualDone);
  ASSERT_GT(uploaded, manualDone) << p.allOutput() << ftp.log();
  const std::string uploadLine = lineAt(p, uploaded);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(uploadLine, m, std::regex("\"remote\":\"/([^\"]+)\"")))
      << uploadLine;
  const fs::path stored = servers / "ftp" / u8(m[1].str());
  ASSERT_TRUE(fs::exists(stored)) << uploadLine;
  EXPECT_EQ(test::readFile(stored), test::readFile(archive));
  EXPECT_EQ(stored.filename(), "ERP.zlib");
  EXPECT_EQ(uploadLine, JsonLine("upload")
                            .add("state", "done")
                            .add("archive", utf8(archive))
                            .add("bytes", static_cast<int64_t>(fs::file_size(archive)))
                            .add("remote", "/" + m[1].str())
                            .str());
  // The day is recorded just after the upload says it is done, with nothing more to see.
  EXPECT_EQ(valueSoon(erp.mainLocation,
                      "select count(*) from PARGERAL where PRGDATAFTP = current_date", "1"),
            "1");
  size_t reports = 0;
  for (const std::string& request : web.requests()) {
    reports += request.rfind("/atl/updataBkp.php?", 0) == 0;
  }
  EXPECT_GT(reports, 0u) << p.allOutput();

  // The export: the unsent documents stored on the second FTP service, kept in the ERP's
  // XML folder and marked sent.
  // The same idle tick starts the check of the automatic archive.
  p.send("Timer1Timer");
  const int exported = p.waitFor({"\"event\":\"export\""}, kJob);
  ASSERT_GE(exported, 0) << p.allOutput();
  EXPECT_EQ(lineAt(p, exported), "{\"event\":\"export\",\"documents\":3}");
  EXPECT_EQ(test::queryValue(erp.nfeLocation, env, "select count(*) from NFE where NFEFTP = 'N'"),
            "0");
  EXPECT_EQ(filesIn(servers / "nfeftp").size(), 3u);
  const std::vector<fs::path> kept = filesIn(erpDir);
  ASSERT_EQ(kept.size(), 3u);
  for (const fs::path& f : kept) EXPECT_TRUE(utf8(f).ends_with("-nfe.xml")) << utf8(f);

  // The check: the main backup restored from the archive into a scratch database through
  // the client's stream, validated, its records those of the database; the archive then
  // keeps a second name as the verified one, and the scratch folder is gone.
  const int verified = p.waitFor({"\"event\":\"verify\""}, kJob, uploaded);
  ASSERT_GT(verified, uploaded) << p.allOutput();
  const std::string verifyLine = lineAt(p, verified);
  ASSERT_TRUE(std::regex_search(
      verifyLine, m,
      std::regex("^\\{\"event\":\"verify\",\"state\":\"done\",\"archive\":(\"[^\"]+\"),"
                 "\"tables\":([0-9]+),\"records\":([0-9]+),\"seconds\":[0-9]+\\.[0-9]\\}$")))
      << verifyLine;
  EXPECT_EQ(m[1].str(), jsonString(utf8(archive)));
  int64_t records = 0;
  for (const auto& [table, count] : mainCounts) {
    if (table.find(' ') == std::string::npos) records += count;
  }
  EXPECT_EQ(std::stoll(m[3].str()), records);
  EXPECT_EQ(test::readFile(automatic / "ERP.verified.zlib"), test::readFile(archive));
  EXPECT_FALSE(fs::exists(automatic / "ERP_VERIFICA"));

  // A change on the settings page rewrites one line; every other byte of the ERP's file
  // stays as it was, Windows-1252 and CRLF.
  p.send("MemoBackupDblClick");
  p.send("set MaskEdit1 07:45");
  p.send("MaskEdit1Exit");
  p.send("TabSheet3Show");
  ASSERT_GE(p.waitFor({"{\"event\":\"edit\",\"name\":\"MaskEdit1\",\"text\":\"07:45\"}"}, 20s), 0)
      << p.allOutput();
  std::string expected = settingsBefore;
  const size_t at = expected.find("tempo1=09:30\r\n");
  ASSERT_NE(at, std::string::npos);
  expected.replace(at, 12, "tempo1=07:45");
  EXPECT_NE(settingsBefore.find(utf8ToCp1252("Cópia de Segurança")), std::string::npos);
  EXPECT_EQ(test::readFile(settings), expected);

  EXPECT_EQ(p.allOutput().find(env.password), std::string::npos);
  p.send("Sair1Click");
  EXPECT_EQ(p.waitExit(30s), 0) << p.allOutput();
}

// Neither gds32.dll nor fbclient.dll on the search path, as on a desk without the Firebird
// client: the start says so and ends instead of waiting for a database it cannot reach.
TEST_F(WindowsOffice, WithoutAnyClientLibraryTheStartSaysSoAndEnds) {
  const test::SampleErp erp = makeErp(0);
  writeSettings(erp);
  // The search path without the folder of the test client library.
  const char* inherited = std::getenv("PATH");
  const std::string all = inherited ? inherited : "";
  std::string path;
  for (size_t from = 0; from <= all.size();) {
    const size_t to = std::min(all.find(';', from), all.size());
    const std::string entry = all.substr(from, to - from);
    if (!entry.empty() && entry.find("wine-fbclient") == std::string::npos) {
      path += (path.empty() ? "" : ";") + entry;
    }
    from = to + 1;
  }
  ProgramProcess p({{"PATH", path}}, {"--headless"}, utf8(program));
  const int message = p.waitFor(
      {"\"event\":\"message\"", "\"icon\":\"error\"",
       "InterBase library gds32.dll not found in the path. Please install InterBase to use "
       "this functionality"},
      kStart);
  ASSERT_GE(message, 0) << p.allOutput();
  EXPECT_EQ(p.waitExit(30s), 1) << p.allOutput();
  // The last line, once the reader has it all.
  const int exit = p.waitFor({"{\"event\":\"exit\",\"code\":1}"}, 10s, message);
  EXPECT_EQ(exit + 1, static_cast<int>(p.lines().size())) << p.allOutput();
}

}  // namespace
}  // namespace dovra
