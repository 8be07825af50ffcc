// The NF-e export (TXML) against the sample ERP's NF-e database and pyftpdlib.
#include "transfer/nfe_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/text_codec.h"
#include "support/fault_ftp_server.h"
#include "transfer/transfer_fixture.h"

namespace dovra::test {
namespace {

using Lines = std::vector<std::string>;
using namespace fault;

struct Document {
  int company;
  int note;
  std::string key;
  std::string xml;  // UTF-8; stored as Windows-1252
};

class NfeExportTest : public TransferTest {
 protected:
  void add(const Document& d) {
    nfeSql("insert into NFE (NFENOTA, NFEEMPRESA, NFESERIE, NFECHAVE, NFEXML, NFEFTP) values (" +
           std::to_string(d.note) + ", " + std::to_string(d.company) + ", 1, '" + d.key + "', '" +
           d.xml + "', 'N')");
  }
  // NFEFTP of a document, read in a connection of its own (so: committed).
  std::string sent(const Document& d) {
    return queryValue(sample->erp().nfeLocation, env,
                      "select NFEFTP from NFE where NFEEMPRESA = " + std::to_string(d.company) +
                          " and NFENOTA = " + std::to_string(d.note));
  }
  fs::path remoteFolder(const std::string& cnpjFolder, int company) const {
    return dir.path() / "nfeftp" / cnpjFolder / "XMLS" / std::to_string(company);
  }
  fs::path remoteFile(const Document& d, const std::string& cnpjFolder = company1Folder()) const {
    return remoteFolder(cnpjFolder, d.company) / (d.key + "-nfe.xml");
  }
  fs::path localFolder(const Document& d) const {
    return form->state().XmlFolder + std::to_string(d.company) + "/NFe" + std::to_string(d.note);
  }
  fs::path localFile(const Document& d) const { return localFolder(d) / (d.key + "-nfe.xml"); }
  static std::string stored(const Document& d) { return utf8ToCp1252(d.xml); }

  // Folders the NF-e server was asked to enter, relative to its root.
  Lines enteredFolders() const {
    Lines out;
    std::istringstream in(nfeServer->log());
    const std::string root = fs::canonical(nfeServer->root()).string();
    static const std::regex cwd(R"(\] CWD (\S+) 250)");
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, cwd)) continue;
      std::string path = m[1].str().substr(root.size());
      out.push_back(path.empty() ? "/" : path);
    }
    return out;
  }
  std::vector<fs::path> filesBelow(const fs::path& top) const {
    std::vector<fs::path> out;
    if (!fs::exists(top)) return out;
    for (const auto& e : fs::recursive_directory_iterator(top)) {
      if (e.is_regular_file()) out.push_back(fs::relative(e.path(), top));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  const Document a{1, 1, "35240612345678000195550010000000011000000011", "<nfe>A São Paulo</nfe>"};
  const Document b{1, 2, "35240612345678000195550010000000021000000022", "<nfe>B</nfe>"};
  const Document c{2, 1, "35240698765432000198550020000000011000000033", "<nfe>C</nfe>"};
};

TEST_F(NfeExportTest, DocumentsGoIntoTheirCompanysFolderAndAreMarkedOnceStored) {
  for (const Document& d : {c, b, a}) add(d);
  // b's local copy exists already, with content of its own: that is what goes.
  fs::create_directories(localFolder(b));
  writeFile(localFile(b), "local version");

  runExport();

  EXPECT_EQ(log(), Lines{"Conectou"});
  EXPECT_FALSE(form->state().XmlRunning);
  EXPECT_FALSE(form->IdFTPNFE.Connected());
  EXPECT_EQ(readFile(remoteFile(a)), stored(a));
  EXPECT_EQ(readFile(remoteFile(b)), "local version");
  EXPECT_EQ(readFile(remoteFile(c)), stored(c));
  EXPECT_EQ(readFile(localFile(a)), stored(a));
  EXPECT_EQ(readFile(localFile(b)), "local version");
  EXPECT_EQ(readFile(localFile(c)), stored(c));
  // Only the three documents, no temporaries, locally and remotely.
  EXPECT_EQ(filesBelow(dir.path() / "xml").size(), 3u);
  EXPECT_EQ(filesBelow(dir.path() / "nfeftp").size(), 3u);
  for (const Document& d : {a, b, c}) EXPECT_EQ(sent(d), "S") << d.key;
  // Each company's folder is entered once, one level at a time.
  const std::string cnpj = "/" + company1Folder();
  EXPECT_EQ(enteredFolders(), (Lines{"/", cnpj, cnpj + "/XMLS", cnpj + "/XMLS/1", "/", cnpj,
                                     cnpj + "/XMLS", cnpj + "/XMLS/2"}));

  // The run says how many documents went.
  ASSERT_EQ(outcomes.reports.size(), 1u);
  EXPECT_EQ(outcomes.reports[0].kind, RunReport::Kind::Export);
  EXPECT_EQ(outcomes.reports[0].documents, 3);

  // Nothing left to send: the next run only looks, and says nothing.
  const std::string serverLog = nfeServer->log();
  runExport();
  EXPECT_EQ(log(), Lines{"Conectou"});
  EXPECT_FALSE(form->state().XmlRunning);
  EXPECT_EQ(nfeServer->log(), serverLog);
  EXPECT_EQ(outcomes.reports.size(), 1u);
}

TEST_F(NfeExportTest, ARefusedConnectionExportsNothingUntilTheNextRun) {
  add(a);
  add(c);
  useNfeServer(refusedLoopbackPort());
  runExport();
  EXPECT_TRUE(log().empty());
  EXPECT_FALSE(form->state().XmlRunning);
  EXPECT_EQ(sent(a), "N");
  EXPECT_EQ(sent(c), "N");
  EXPECT_TRUE(filesBelow(dir.path() / "xml").empty());
  EXPECT_TRUE(outcomes.reports.empty());

  // The next run sends them; company 1 without a CNPJ sends everything below the
  // fallback folder.
  mainSql("update EMPRESA set EMPCNPJ = '0' where EMPCODIGO = 1");
  useNfeServer(nfeServer->port());
  runExport();
  EXPECT_EQ(log(), Lines{"Conectou"});
  EXPECT_EQ(sent(a), "S");
  EXPECT_EQ(sent(c), "S");
  EXPECT_EQ(readFile(remoteFile(a, kNoCnpjFolder)), stored(a));
  EXPECT_EQ(readFile(remoteFile(c, kNoCnpjFolder)), stored(c));
}

TEST_F(NfeExportTest, AFailedStoreLeavesThatDocumentUnsentAndTheOthersGoOn) {
  for (const Document& d : {a, b, c}) add(d);
  // A folder where a's file would go: the server refuses the store.
  fs::create_directories(remoteFile(a));

  runExport();

  EXPECT_EQ(log(), Lines{"Conectou"});  // silently
  EXPECT_EQ(sent(a), "N");
  EXPECT_EQ(sent(b), "S");
  EXPECT_EQ(sent(c), "S");
  EXPECT_EQ(readFile(remoteFile(b)), stored(b));
  EXPECT_EQ(readFile(remoteFile(c)), stored(c));
  EXPECT_EQ(readFile(localFile(a)), stored(a));
  // Only the documents that went count.
  ASSERT_EQ(outcomes.reports.size(), 1u);
  EXPECT_EQ(outcomes.reports[0].documents, 2);

  // The next run sends it from the local copy.
  fs::remove(remoteFile(a));
  runExport();
  EXPECT_EQ(sent(a), "S");
  ASSERT_EQ(outcomes.reports.size(), 2u);
  EXPECT_EQ(outcomes.reports[1].documents, 1);
  EXPECT_EQ(readFile(remoteFile(a)), stored(a));
}

TEST_F(NfeExportTest, LocalCopiesThatCannotBeWrittenAreLoggedAndStayUnsent) {
  const Document unsafe{1, 7, "../../../escaped", "<nfe>X</nfe>"};
  add(unsafe);
  add(c);
  // Company 2's local tree is blocked by a file.
  fs::create_directories(fs::path(form->state().XmlFolder).parent_path());
  writeFile(form->state().XmlFolder + "2", "in the way");

  runExport();

  const Lines lines = log();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Conectou");
  EXPECT_EQ(lines[1], "ERRO Invalid filename");
  EXPECT_EQ(lines[2].rfind("ERRO ", 0), 0u);
  EXPECT_EQ(sent(unsafe), "N");
  EXPECT_EQ(sent(c), "N");
  // Nothing escaped the XML folder, nothing was written in it but the blocking file, and
  // nothing reached the server.
  for (const fs::path& f : filesBelow(dir.path()))
    EXPECT_EQ(f.string().find("escaped"), std::string::npos) << f;
  EXPECT_EQ(filesBelow(dir.path() / "xml"), std::vector<fs::path>{"NFe/Xmls/Xmls2"});
  EXPECT_TRUE(filesBelow(dir.path() / "nfeftp").empty());
}

// A failed folder change is retried for each document, and nothing lands in another
// company's folder.
TEST_F(NfeExportTest, ManyDocumentsKeepTheirOrderAndEachFailureIsLoggedAtItsTurn) {
  // More documents than the transfer side takes ahead, of three companies; company 2's
  // folder is blocked, and one of company 3's keys is unusable.
  std::vector<Document> documents;
  for (int company = 1; company <= 3; ++company) {
    for (int note = 1; note <= 15; ++note) {
      char key[64];
      std::snprintf(key, sizeof key, "352406%02d%036d", company, note);
      documents.push_back({company, note, key, "<nfe>" + std::string(key) + "</nfe>"});
    }
  }
  documents[40].key = "bad/key";
  for (const Document& d : documents) add(d);
  fs::create_directories(remoteFolder(company1Folder(), 1).parent_path());
  writeFile(remoteFolder(company1Folder(), 2), "not a folder");

  runExport();

  const Lines lines = log();
  ASSERT_EQ(lines.size(), 1u + 15u + 1u);
  EXPECT_EQ(lines[0], "Conectou");
  for (size_t i = 1; i <= 15; ++i) {
    EXPECT_EQ(lines[i].rfind("ERRO ", 0), 0u) << lines[i];
    EXPECT_NE(lines[i], "ERRO Invalid filename");
  }
  EXPECT_EQ(lines[16], "ERRO Invalid filename");
  for (size_t i = 0; i < documents.size(); ++i) {
    const Document& d = documents[i];
    const bool goes = d.company != 2 && i != 40;
    EXPECT_EQ(sent(d), goes ? "S" : "N") << d.key;
    if (goes) {
      EXPECT_EQ(readFile(remoteFile(d)), stored(d)) << d.key;
    }
  }
  EXPECT_EQ(filesBelow(dir.path() / "nfeftp").size(), 15u + 14u + 1u);
  EXPECT_FALSE(form->state().XmlRunning);
}

// A 226 says only that the data connection ended in order. A document that reached the
// server short (here 500 of its 2,050 bytes, as through a connection that closed cleanly
// midway) stays unsent; from a server that tells no size the file is read back.
TEST_F(NfeExportTest, OnlyADocumentThatArrivedWholeIsMarkedSent) {
  const Document big{1, 9, "35240612345678000195550010000000091000000099",
                     "<nfe>" + std::string(2039, 'x') + "</nfe>"};
  ASSERT_EQ(stored(big).size(), 2050u);
  const std::string name = big.key + "-nfe.xml";
  const std::string folder = company1Folder();
  // clang-format off
  const std::vector<Step> untilStored = login() + std::vector<Step>{
      expect("CWD /"), reply("250 ok"), expect("MKD " + folder), reply("550 exists"),
      expect("CWD " + folder), reply("250 ok"), expect("MKD XMLS"), reply("550 exists"),
      expect("CWD XMLS"), reply("250 ok"), expect("MKD 1"), reply("550 exists"),
      expect("CWD 1"), reply("250 ok"), expect("PASV"), pasv(), acceptData(),
      expect("STOR " + name), reply("150 ok"), receiveData(), reply("226 Transfer complete.")};
  const std::vector<Step> readBack = {
      expect("SIZE " + name), reply("502 Command not implemented."),
      expect("PASV"), pasv(), acceptData(), expect("RETR " + name), reply("150 ok")};
  // clang-format on
  struct Case {
    const char* why;
    std::vector<Step> after;  // the server's side after the store
    const char* mark;
  };
  const std::vector<Case> cases = {
      {"the server tells the short size", {expect("SIZE " + name), reply("213 500")}, "N"},
      {"no size; the file read back is short",
       readBack + std::vector<Step>{sendData(stored(big).substr(0, 500)), closeData(),
                                    reply("226 Transfer complete.")},
       "N"},
      {"no size; the file read back is whole",
       readBack +
           std::vector<Step>{sendData(stored(big)), closeData(), reply("226 Transfer complete.")},
       "S"},
  };
  add(big);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    FaultFtpServer server(untilStored + c.after + std::vector<Step>{waitForClose()});
    useNfeServer(server.port());
    runExport();
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.receivedData(), stored(big));
    EXPECT_EQ(sent(big), c.mark);
    EXPECT_EQ(log().back(), "Conectou");
    // The read-back copy leaves nothing beside the local copy.
    EXPECT_EQ(filesBelow(dir.path() / "xml").size(), 1u);
  }
}

// The same through a real server, the document cut short in transit by a relay that
// closes cleanly after 500 bytes: the server stores 500 bytes and answers 226. Once the
// connection delivers the whole document, it is marked. A server that does not know SIZE
// has the file read back.
TEST_F(NfeExportTest, ADocumentCutShortOnTheWayToARealServerStaysUnsent) {
  const Document big{2, 9, "35240612345678000195550010000000091000000099",
                     "<nfe>" + std::string(2039, 'y') + "</nfe>"};
  add(big);
  FtpTestServer withoutSize(dir.path() / "nfeftp", false);
  for (FtpTestServer* server : {nfeServer.get(), &withoutSize}) {
    SCOPED_TRACE(server == nfeServer.get() ? "SIZE answered" : "SIZE unknown");
    nfeSql("update NFE set NFEFTP = 'N' where NFEEMPRESA = 2 and NFENOTA = 9");
    fs::remove_all(dir.path() / "nfeftp" / company1Folder());
    {
      CuttingFtpProxy cutting(server->port(), 500);
      useNfeServer(cutting.port());
      runExport();
    }
    EXPECT_EQ(readFile(remoteFile(big)), stored(big).substr(0, 500));
    EXPECT_EQ(sent(big), "N");
    EXPECT_EQ(log().back(), "Conectou");

    useNfeServer(server->port());
    runExport();
    EXPECT_EQ(readFile(remoteFile(big)), stored(big));
    EXPECT_EQ(sent(big), "S");
    EXPECT_EQ(filesBelow(dir.path() / "xml").size(), 1u);
  }
}

TEST_F(NfeExportTest, ExitDuringAnExportEndsItWithoutMarkingTheDocument) {
  add(a);
  const std::string folder = company1Folder();
  // clang-format off
  FaultFtpServer stalled(login() + std::vector<Step>{expect("CWD /"), reply("250 ok"),
      expect("MKD " + folder), reply("257 made"), expect("CWD " + folder), reply("250 ok"),
      expect("MKD XMLS"), reply("257 made"), expect("CWD XMLS"), reply("250 ok"),
      expect("MKD 1"), reply("257 made"), expect("CWD 1"), reply("250 ok"),
      expect("PASV"), pasv(), acceptData(), expect("STOR " + a.key + "-nfe.xml"),
      reply("150 ok"), waitForClose()});
  // clang-format on
  useNfeServer(stalled.port());

  // The scheduler's tick starts the export on its own thread.
  form->Timer1Timer();
  const auto storing = [&stalled] {
    for (const std::string& c : stalled.commands()) {
      if (c.rfind("STOR", 0) == 0) return true;
    }
    return false;
  };
  for (int i = 0; i < 500 && !storing(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(storing());
  EXPECT_TRUE(form->state().XmlRunning);

  form->Sair1Click();
  for (int i = 0; i < 500 && form->launcher().running(WorkerKind::TXML); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(form->launcher().running(WorkerKind::TXML));
  EXPECT_FALSE(form->state().XmlRunning);
  EXPECT_TRUE(loop.exiting());
  EXPECT_EQ(sent(a), "N");
  EXPECT_EQ(stalled.finish(), "");
}

}  // namespace
}  // namespace dovra::test
