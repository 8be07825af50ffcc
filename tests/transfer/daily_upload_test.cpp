// The daily upload (TFTP) against the sample ERP, pyftpdlib and a recording web server;
// the scripted fault server where a real one will not misbehave on demand.
#include "transfer/daily_upload.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/fault_ftp_server.h"
#include "transfer/transfer_fixture.h"

namespace dovra::test {
namespace {

using namespace fault;
using Script = std::vector<Step>;
using Lines = std::vector<std::string>;

// A scripted server's side of a first attempt up to the start of the transfer: the login,
// the company folder, no temporary yet (SIZE and DELE answered 550), PASV and APPE.
Script untilAppe(const std::string& folder) {
  // clang-format off
  return login() + Script{expect("CWD /"), reply("250 ok"),
          expect("MKD " + folder), reply("550 exists"), expect("CWD " + folder), reply("250 ok"),
          expect("SIZE ERP.zlib_temp"), reply("550 No such file."),
          expect("DELE ERP.zlib_temp"), reply("550 No such file."),
          expect("PASV"), pasv(), acceptData(), expect("APPE ERP.zlib_temp"), reply("150 ok")};
  // clang-format on
}

const Lines kFirstUploadLog = {"FTP começa",          "Tenta conectar",  "Conectou",
                               "Muda diretorio CNPJ", "Arquivo existe",  "Arquivo lido",
                               "pegou tamanho",       "Arquivo enviado", "Arquivo novo renomeado"};

Lines withOldRemoved(Lines lines) {
  lines.insert(lines.end() - 1, "Arquivo old deletado");
  return lines;
}

class DailyUploadTest : public TransferTest {
 protected:
  // The commands pyftpdlib logged that change files (STOR, APPE, DELE, RNFR, RNTO, MKD),
  // with paths relative to the server's root and without the timing.
  Lines fileCommands() const {
    Lines out;
    std::istringstream in(ftpServer->log());
    const std::string root = fs::canonical(ftpServer->root()).string();
    static const std::regex command(
        R"(\] (STOR|APPE|DELE|RNFR|RNTO|MKD) (\S+)( completed=\d bytes=\d+)?(?: seconds=\S+)?( \d+)?)");
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, command)) continue;
      std::string path = m[2].str();
      if (path.rfind(root, 0) == 0) path = path.substr(root.size());
      out.push_back(m[1].str() + " " + path + m[3].str() + m[4].str());
    }
    return out;
  }
  Lines transfers() const {
    Lines out;
    for (const std::string& c : fileCommands()) {
      if (c.rfind("APPE", 0) == 0 || c.rfind("STOR", 0) == 0) out.push_back(c);
    }
    return out;
  }
  int removedTemporaries() const {
    const Lines commands = fileCommands();
    return static_cast<int>(
        std::count(commands.begin(), commands.end(), "DELE " + tempPath() + " 250"));
  }
  // Sessions the real server opened so far.
  int sessions() const {
    const std::string text = ftpServer->log();
    static const std::regex loggedIn("logged in");
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), loggedIn),
                                          std::sregex_iterator()));
  }
  fs::path remote(const std::string& name) const { return uploadFolder(company1Folder()) / name; }
  void placeRemote(const std::string& name, const std::string& bytes) {
    fs::create_directories(uploadFolder(company1Folder()));
    writeFile(remote(name), bytes);
  }
  std::string report(const std::string& fk) const {
    return "/atl/updataBkp.php?fk=" + fk + "&data=" + todayText();
  }
  std::string tempPath() const { return "/" + company1Folder() + "/ERP.zlib_temp"; }
};

TEST_F(DailyUploadTest, FirstUploadStoresRenamesReportsAndRecordsTheDayOnce) {
  // No archive: nothing at all, even with the day still due.
  runUpload();
  EXPECT_TRUE(log().empty());
  EXPECT_FALSE(form->state().FtpRunning);

  const std::string archive = pattern(5000);
  writeArchive(archive);
  const std::string before = uploadDate();
  ASSERT_NE(before, serverToday());

  runUpload();

  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(readFile(remote("ERP.zlib")), archive);
  EXPECT_FALSE(fs::exists(remote("ERP.zlib_temp")));
  EXPECT_EQ(transfers(), Lines{"APPE " + tempPath() + " completed=1 bytes=5000"});
  EXPECT_EQ(uploadDate(), serverToday());
  EXPECT_FALSE(form->state().FtpRunning);
  EXPECT_FALSE(form->erp().TBanco.Active());
  EXPECT_FALSE(form->IdFTP1.Connected());
  // Companies 1 and 2 have CNPJs; company 3's is '0'.
  EXPECT_EQ(reports(), (Lines{report(company1Folder()),
                              report(cleanCnpj(*sampleCnpj(2, CnpjStyle::Formatted)))}));
  EXPECT_EQ(readFile(archivePath()), archive);  // the local archive is left alone

  // The day is done: a second run leaves no trace, and its read no open transaction.
  runUpload();
  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(sessions(), 1);
  EXPECT_EQ(reports().size(), 2u);
  EXPECT_FALSE(form->erp().TBanco.Active());

  // The next day (the empty date is never today; the change made elsewhere is seen on the
  // same connection), yesterday's final file is replaced only once the new one is complete.
  mainSql("update PARGERAL set PRGDATAFTP = null");
  form->window().memoClear("mLog");
  const std::string next = pattern(7000, 9);
  writeArchive(next);
  const size_t yesterday = fileCommands().size();
  runUpload();
  EXPECT_EQ(log(), withOldRemoved(kFirstUploadLog));
  EXPECT_EQ(readFile(remote("ERP.zlib")), next);
  const Lines commands = fileCommands();
  const auto at = [&](const std::string& prefix) {
    for (size_t i = yesterday; i < commands.size(); ++i) {
      if (commands[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    }
    return -1;
  };
  const std::string final = "/" + company1Folder() + "/ERP.zlib";
  EXPECT_LT(at("APPE " + tempPath() + " completed=1 bytes=7000"), at("DELE " + final + " 250"));
  EXPECT_LT(at("DELE " + final + " 250"), at("RNTO " + final));
}

TEST_F(DailyUploadTest, AnInterruptedAttemptIsResumedWithTheMissingTailOnly) {
  const std::string archive = pattern(5000);
  writeArchive(archive);
  const std::string folder = company1Folder();

  // First attempt: the server takes 1000 bytes, then the data connection breaks.
  FaultFtpServer broken(untilAppe(folder) +
                        Script{receiveDataBytes(1000), resetData(),
                               reply("426 Connection closed; transfer aborted."), waitForClose()});
  useUploadServer(broken.port());
  runUpload();
  EXPECT_EQ(broken.finish(), "");
  EXPECT_EQ(log(),
            (Lines{"FTP começa", "Tenta conectar", "Conectou", "Muda diretorio CNPJ",
                   "Arquivo existe", "Arquivo lido", "pegou tamanho", "Arquivo não enviado"}));
  EXPECT_NE(uploadDate(), serverToday());
  EXPECT_FALSE(form->state().FtpRunning);
  EXPECT_TRUE(reports().empty());
  ASSERT_GE(broken.receivedData().size(), 1000u);
  const std::string arrived = broken.receivedData().substr(0, 1000);
  ASSERT_EQ(arrived, archive.substr(0, 1000));

  // Next tick, the real server holds what arrived: only bytes 1000 to 4999 are sent.
  placeRemote("ERP.zlib_temp", arrived);
  useUploadServer(ftpServer->port());
  form->window().memoClear("mLog");
  runUpload();
  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(transfers(), Lines{"APPE " + tempPath() + " completed=1 bytes=4000"});
  EXPECT_EQ(readFile(remote("ERP.zlib")), archive);
  EXPECT_EQ(uploadDate(), serverToday());
  EXPECT_FALSE(fs::exists(uploadRecordPath(archivePath())));
}

// A temporary left on the server is resumed only when the resume record says it came from
// this archive and this folder and it is not longer than the archive; otherwise it is
// removed and the whole archive goes.
TEST_F(DailyUploadTest, ATemporaryLeftOnTheServerIsKeptOnlyWhenItsRecordMatches) {
  const std::string archive = pattern(5000, 3);
  const std::string temp = company1Folder() + "/ERP.zlib_temp";
  const std::string whole = "APPE " + tempPath() + " completed=1 bytes=5000";
  struct Case {
    const char* why;
    std::function<void()> leave;  // what the earlier attempt left
    bool sent;                    // whether the archive goes again
    int removed;                  // temporaries removed so far
  };
  const std::vector<Case> cases = {
      {"complete, with its record: not sent again",
       [&] {
         recordUploadStart(archivePath(), temp);
         placeRemote("ERP.zlib_temp", archive);
       },
       false, 0},
      {"larger than the archive",
       [&] {
         recordUploadStart(archivePath(), temp);
         placeRemote("ERP.zlib_temp", archive + pattern(3000, 5));
       },
       true, 1},
      {"left by another archive of the same size, whose record is still there",
       [&] {
         writeArchive(pattern(5000, 2));
         recordUploadStart(archivePath(), temp);
         placeRemote("ERP.zlib_temp", pattern(5000, 2).substr(0, 1000));
         writeArchive(archive);
       },
       true, 2},
      {"without any record: its origin is unknown",
       [&] { placeRemote("ERP.zlib_temp", pattern(2500, 4)); }, true, 3},
      {"a record for the same archive but another folder",
       [&] {
         recordUploadStart(archivePath(), "autalizar_cnpj/ERP.zlib_temp");
         placeRemote("ERP.zlib_temp", archive.substr(0, 1000));
       },
       true, 4},
  };
  writeArchive(archive);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    mainSql("update PARGERAL set PRGDATAFTP = null");
    form->window().memoClear("mLog");
    fs::remove(remote("ERP.zlib"));
    fs::remove(uploadRecordPath(archivePath()));
    const size_t transfersBefore = transfers().size();
    const size_t reportsBefore = reports().size();
    c.leave();
    runUpload();
    EXPECT_EQ(log(), kFirstUploadLog);
    EXPECT_EQ(readFile(remote("ERP.zlib")), archive);
    EXPECT_EQ(transfers().size(), transfersBefore + (c.sent ? 1 : 0));
    if (c.sent) {
      EXPECT_EQ(transfers().back(), whole);
    }
    EXPECT_EQ(removedTemporaries(), c.removed);
    EXPECT_EQ(reports().size(), reportsBefore + 2);
    EXPECT_EQ(uploadDate(), serverToday());
  }
}

TEST_F(DailyUploadTest, TheCompanyFolderFollowsTheFirstCnpj) {
  struct Case {
    const char* why;
    std::string company1;  // SQL literal for company 1's EMPCNPJ
    std::string folder;
  };
  // The folder rule itself (blanks, separators, "0") has tests of its own.
  const std::string digits2 = cleanCnpj(*sampleCnpj(2, CnpjStyle::Formatted));
  const std::vector<Case> cases = {
      {"empty text", "''", kNoCnpjFolder},
      {"'0' skips to the next company", "'0'", digits2},
      {"null skips to the next company", "null", digits2},
  };
  writeArchive(pattern(2000));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    mainSql("update EMPRESA set EMPCNPJ = " + c.company1 + " where EMPCODIGO = 1");
    mainSql("update PARGERAL set PRGDATAFTP = null");
    runUpload();
    EXPECT_EQ(readFile(uploadFolder(c.folder) / "ERP.zlib"), pattern(2000));
    fs::remove_all(uploadFolder(c.folder));
  }

  // No company with a CNPJ other than '0'.
  mainSql("update EMPRESA set EMPCNPJ = '0'");
  mainSql("update PARGERAL set PRGDATAFTP = null");
  const size_t reportsBefore = reports().size();
  runUpload();
  EXPECT_EQ(readFile(uploadFolder(kNoCnpjFolder) / "ERP.zlib"), pattern(2000));
  EXPECT_EQ(reports().size(), reportsBefore);  // nobody to report for
  EXPECT_EQ(uploadDate(), serverToday());
}

TEST_F(DailyUploadTest, EveryCompanyWithACnpjIsReportedInCompanyOrder) {
  mainSql("update EMPRESA set EMPCNPJ = '' where EMPCODIGO = 3");
  mainSql(
      "insert into EMPRESA (EMPCODIGO, EMPCNPJ, EMPRAZAOSOC, EMPFANTASIA) values "
      "(4, ' 98.765.432/0001-98 ', 'Quarta Ltda', 'Quarta')");
  mainSql(
      "insert into EMPRESA (EMPCODIGO, EMPCNPJ, EMPRAZAOSOC, EMPFANTASIA) values "
      "(0, 'AB 12&3', 'Filial Ltda', 'Filial')");
  writeArchive(pattern(1000));

  runUpload();

  EXPECT_EQ(log(), kFirstUploadLog);
  // Company 0 first (its odd CNPJ encoded where a query needs it); company 3's empty text
  // sends nothing.
  EXPECT_EQ(reports(), (Lines{report("AB%2012%263"), report(company1Folder()),
                              report(cleanCnpj(*sampleCnpj(2, CnpjStyle::Formatted))),
                              report("98765432000198")}));
  // The first company with a CNPJ names the folder.
  EXPECT_EQ(readFile(uploadFolder("AB 12&3") / "ERP.zlib"), pattern(1000));
}

// A refused connection or an archive locked by its writer: logged, nothing recorded, and
// the next tick goes through.
TEST_F(DailyUploadTest, FailuresAreLoggedAndTheNextTickRetries) {
  writeArchive(pattern(4000));
  useUploadServer(refusedLoopbackPort());
  runUpload();
  EXPECT_EQ(log(), (Lines{"FTP começa", "Tenta conectar",
                          "Erro: Socket Error # 111\r\nConnection refused."}));
  useUploadServer(ftpServer->port());
  const int writer = ::open(archivePath().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  form->window().memoClear("mLog");
  runUpload();
  EXPECT_EQ(log(), (Lines{"FTP começa", "Tenta conectar", "Conectou", "Muda diretorio CNPJ",
                          "Arquivo existe", "Erro: I/O error 11"}));
  EXPECT_FALSE(form->state().FtpRunning);
  EXPECT_TRUE(transfers().empty());
  EXPECT_NE(uploadDate(), serverToday());
  EXPECT_TRUE(reports().empty());

  ::close(writer);
  form->window().memoClear("mLog");
  runUpload();
  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(readFile(remote("ERP.zlib")), pattern(4000));
}

TEST_F(DailyUploadTest, AStoredSizeThatDiffersFromTheArchiveIsNotRecorded) {
  const std::string folder = company1Folder();
  writeArchive(pattern(3000));
  // After the transfer the server tells a size short of the archive's (as one that lost
  // bytes would).
  FaultFtpServer shortened(untilAppe(folder) +
                           Script{receiveData(), reply("226 Transfer complete."),
                                  expect("SIZE ERP.zlib_temp"), reply("213 2048"), waitForClose()});
  useUploadServer(shortened.port());
  runUpload();
  EXPECT_EQ(shortened.finish(), "");
  EXPECT_EQ(shortened.receivedData(), pattern(3000));
  const Lines lines = log();
  EXPECT_EQ(lines.back(), "Arquivo não enviado");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Arquivo enviado"), 0);
  EXPECT_NE(uploadDate(), serverToday());
  EXPECT_TRUE(reports().empty());
  // Neither DELE of the final file nor RNFR followed.
  for (const std::string& c : shortened.commands()) {
    EXPECT_NE(c.rfind("RNFR", 0), 0u) << c;
    EXPECT_NE(c, "DELE ERP.zlib");
  }
}

// Each run that tries to send says whether the archive arrived: failed with the error (and
// the archive's size once it was opened), done with the size and the final remote name; a
// run with nothing to send says nothing.
TEST_F(DailyUploadTest, EachAttemptReportsWhetherTheArchiveArrived) {
  const std::string folder = company1Folder();
  writeArchive(pattern(3000));
  useUploadServer(refusedLoopbackPort());
  runUpload();
  ASSERT_EQ(outcomes.reports.size(), 1u);
  EXPECT_EQ(outcomes.reports[0].kind, RunReport::Kind::Upload);
  EXPECT_EQ(outcomes.reports[0].state, RunReport::State::Failed);
  EXPECT_EQ(outcomes.reports[0].archive, archivePath());
  EXPECT_EQ(outcomes.reports[0].bytes, -1);
  EXPECT_EQ(outcomes.reports[0].error, "Socket Error # 111\r\nConnection refused.");

  FaultFtpServer shortened(untilAppe(folder) +
                           Script{receiveData(), reply("226 Transfer complete."),
                                  expect("SIZE ERP.zlib_temp"), reply("213 2048"), waitForClose()});
  useUploadServer(shortened.port());
  outcomes.reports.clear();
  runUpload();
  EXPECT_EQ(shortened.finish(), "");
  ASSERT_EQ(outcomes.reports.size(), 1u);
  EXPECT_EQ(outcomes.reports[0].state, RunReport::State::Failed);
  EXPECT_EQ(outcomes.reports[0].bytes, 3000);
  EXPECT_EQ(outcomes.reports[0].error, "The remote file holds 2048 of 3000 bytes.");

  useUploadServer(ftpServer->port());
  outcomes.reports.clear();
  runUpload();
  ASSERT_EQ(outcomes.reports.size(), 1u);
  EXPECT_EQ(outcomes.reports[0].state, RunReport::State::Done);
  EXPECT_EQ(outcomes.reports[0].archive, archivePath());
  EXPECT_EQ(outcomes.reports[0].bytes, 3000);
  EXPECT_EQ(outcomes.reports[0].remote, "/" + folder + "/ERP.zlib");
  EXPECT_EQ(readFile(remote("ERP.zlib")), pattern(3000));

  outcomes.reports.clear();
  runUpload();  // already sent today
  EXPECT_TRUE(outcomes.reports.empty());
}

// The ERP keeps working while the archive is sent: a connection of its own changes and
// commits PARGERAL during the transfer, and another still holds an uncommitted change of
// it when the day is recorded (and commits a moment later). Neither fails the upload.
TEST_F(DailyUploadTest, TheErpWritingPargeralDuringTheUploadDoesNotFailIt) {
  const std::string archive = pattern(1 << 20, 7);
  writeArchive(archive);
  std::optional<std::thread> holder;
  std::atomic<bool> holding{false};
  bool wrote = false;
  form->IdFTP1.setUploadProgress([&](int64_t sent) {
    if (wrote || sent < (256 << 10)) return;
    wrote = true;
    mainSql("update PARGERAL set PRGVERSAO = 'em uso'");
    holder.emplace([this, &holding] {
      IbDatabase other;
      IbTransaction transaction{other};
      IbQuery query{other, transaction};
      connectDatabase(other, sample->erp().mainLocation, env.user, env.password);
      query.SetSQL("update PARGERAL set PRGVERSAO = 'de novo'");
      query.ExecSQL();
      holding = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      transaction.Commit();
    });
    while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  runUpload();
  if (holder) holder->join();
  form->IdFTP1.setUploadProgress({});
  ASSERT_TRUE(wrote);

  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(readFile(remote("ERP.zlib")), archive);
  EXPECT_EQ(uploadDate(), serverToday());
  EXPECT_EQ(queryValue(sample->erp().mainLocation, env, "select PRGVERSAO from PARGERAL"),
            "de novo");
  EXPECT_FALSE(form->erp().TBanco.Active());
}

// The connection drops at the rename, after the old final file was removed: the day stays
// due and the failure is logged; the next tick sends nothing, renames the complete
// temporary and only then records the day.
TEST_F(DailyUploadTest, ARenameThatFailsIsCompletedByTheNextTickBeforeTheDayIsRecorded) {
  const std::string archive = pattern(3000, 6);
  writeArchive(archive);
  // clang-format off
  FaultFtpServer dropping(untilAppe(company1Folder()) + Script{
      receiveData(), reply("226 Transfer complete."),
      expect("SIZE ERP.zlib_temp"), reply("213 3000"),
      expect("DELE ERP.zlib"), reply("250 deleted"),
      expect("RNFR ERP.zlib_temp"), closeControl()});
  // clang-format on
  useUploadServer(dropping.port());
  runUpload();
  EXPECT_EQ(dropping.finish(), "");
  EXPECT_EQ(dropping.receivedData(), archive);
  EXPECT_EQ(log(), (Lines{"FTP começa", "Tenta conectar", "Conectou", "Muda diretorio CNPJ",
                          "Arquivo existe", "Arquivo lido", "pegou tamanho", "Arquivo enviado",
                          "Arquivo old deletado", "Erro: Connection Closed Gracefully."}));
  EXPECT_NE(uploadDate(), serverToday());
  EXPECT_FALSE(form->state().FtpRunning);

  // The next tick, on a server that holds what arrived.
  placeRemote("ERP.zlib_temp", archive);
  useUploadServer(ftpServer->port());
  form->window().memoClear("mLog");
  runUpload();
  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_TRUE(transfers().empty());
  EXPECT_EQ(readFile(remote("ERP.zlib")), archive);
  EXPECT_FALSE(fs::exists(remote("ERP.zlib_temp")));
  EXPECT_EQ(uploadDate(), serverToday());
}

// The desktop's date differs from the database server's: the day recorded with the
// server's date is still seen as done, whichever way the desktop is off.
TEST_F(DailyUploadTest, TheDayIsDoneByTheServersDateWhateverTheDesktopsDate) {
  writeArchive(pattern(2000));
  const LocalDateTime now = SystemClock().now();
  clock.set(ManualClock::at(now.year + 1, 1, 15, 13, 0, 0));
  runUpload();
  EXPECT_EQ(log(), kFirstUploadLog);
  EXPECT_EQ(uploadDate(), serverToday());
  for (const int year : {now.year + 1, now.year - 1}) {
    SCOPED_TRACE(year);
    clock.set(ManualClock::at(year, 1, 15, 13, 0, 1));
    runUpload();
    EXPECT_EQ(log(), kFirstUploadLog);
    EXPECT_EQ(sessions(), 1);
    EXPECT_EQ(transfers().size(), 1u);
  }
  // The server's next day is due again.
  mainSql("update PARGERAL set PRGDATAFTP = current_date - 1");
  form->window().memoClear("mLog");
  runUpload();
  EXPECT_EQ(log(), withOldRemoved(kFirstUploadLog));
  EXPECT_EQ(sessions(), 2);
}

TEST_F(DailyUploadTest, ExitDuringAnUploadEndsItWithoutRecordingTheDay) {
  const std::string folder = company1Folder();
  writeArchive(pattern(32 << 20));
  FaultFtpServer stalled(untilAppe(folder) + Script{waitForClose()});
  useUploadServer(stalled.port());

  // The hidden "FTP" button starts the worker on its own thread.
  form->SpeedButton3Click();
  for (int i = 0; i < 200 && !form->IdFTP1.Connected(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto appeSent = [&stalled] {
    for (const std::string& c : stalled.commands()) {
      if (c == "APPE ERP.zlib_temp") return true;
    }
    return false;
  };
  for (int i = 0; i < 500 && !appeSent(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(appeSent());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // blocked in the transfer
  EXPECT_TRUE(form->state().FtpRunning);

  const auto started = std::chrono::steady_clock::now();
  form->Sair1Click();
  EXPECT_TRUE(loop.exiting());
  for (int i = 0; i < 500 && form->launcher().running(WorkerKind::TFTP); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(form->launcher().running(WorkerKind::TFTP));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(form->state().FtpRunning);
  EXPECT_EQ(log().back(), "Arquivo não enviado");
  EXPECT_NE(uploadDate(), serverToday());
  EXPECT_EQ(stalled.finish(), "");
}

}  // namespace
}  // namespace dovra::test
