// The Windows program's database client under Wine, against the real server through the
// test client library (tests/wine_fbclient), which reads names as a Windows client does:
// the library the program looks for, databases in accented folders on Wine drives with and
// without a host, service backups and restores between accented Windows folders (the
// server's own tool on the host restores them too), and the server's errors as shown.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "firebird/erp_connections.h"
#include "firebird/fb_client.h"
#include "firebird/ib_database.h"
#include "firebird/ib_service.h"
#include "firebird/service_target.h"
#include "fixtures/sample_erp.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;
using test::errorText;

fs::path u8(const std::string& utf8) {
  return fs::u8path(utf8);
}

std::string utf8(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

TEST(WindowsClientLibrary, FoundAsGds32WithEveryEntryPointAndAMissingOneNamed) {
  ASSERT_EQ(std::getenv("DOVRA_FBCLIENT"), nullptr);
  EXPECT_EQ(FbClient::libraryName(), "gds32.dll");
  EXPECT_EQ(FbClient::instance().name(), "gds32.dll");
  // The other name of the same client, as a Firebird installation without gds32.dll has it.
  EXPECT_EQ(FbClient::load("fbclient.dll")->name(), "fbclient.dll");
  EXPECT_EQ(errorText([] { FbClient::load("gds32-ausente.dll"); }),
            "InterBase library gds32-ausente.dll not found in the path. Please install "
            "InterBase to use this functionality");
  EXPECT_EQ(errorText([] { FbClient::load("kernel32.dll"); }),
            "Entry point isc_attach_database not found in kernel32.dll");
}

class WindowsDatabase : public test::FirebirdTest {
 protected:
  // A folder of `name` under `parent`, made for the test and removed after it.
  fs::path folder(const fs::path& parent, const std::string& name) {
    const fs::path made = parent / u8(name + " " + std::to_string(folders_.size()));
    fs::create_directories(made);
    folders_.push_back(made);
    return made;
  }
  void TearDown() override {
    std::error_code ec;
    for (const fs::path& made : folders_) fs::remove_all(made, ec);
  }
  // A main database (no NF-e one) made through the client in `dir`.
  test::SampleErp sample(const fs::path& dir, const std::string& host) {
    test::SampleErpOptions o;
    o.dir = dir;
    o.host = host;
    o.user = env.user;
    o.password = env.password;
    o.nfeDatabase = false;
    o.companies = 2;
    return test::makeSampleErp(o);
  }
  void setCredentials(TIBCustomService& svc) {
    svc.LoginPrompt = false;
    svc.Params.Clear();
    svc.Params.SetValue("user_name", env.user);
    svc.Params.SetValue("password", env.password);
  }
  std::vector<std::string> runService(TIBControlAndQueryService& svc) {
    std::vector<std::string> lines;
    svc.Attach();
    try {
      svc.ServiceStart();
      while (!svc.OutputFinished()) lines.push_back(svc.ReadOutputLine());
    } catch (...) {
      svc.Detach();
      throw;
    }
    svc.Detach();
    return lines;
  }

  std::vector<fs::path> folders_;
};

// The prefix's own drive (C:) and the drive of the host's root (Z:), a location with the
// local server's name and a plain one (which a Windows client takes to the local server
// too): each database is made, found on the host where the server put it, and read with
// its accented texts and its blobs.
TEST_F(WindowsDatabase, AccentedFoldersOnWineDrivesHoldDatabasesWithOrWithoutAHost) {
  struct Case {
    fs::path parent;
    const char* folder;
    const char* host;
  };
  const Case cases[] = {
      {"C:\\", "Cópia de Segurança", "localhost"},
      {"C:\\", "Cópia de Segurança", ""},
      {env.dbDir, "Dados Ação", "localhost"},
  };
  for (const Case& c : cases) {
    const fs::path dir = folder(c.parent, c.folder);
    SCOPED_TRACE(utf8(dir) + " host \"" + c.host + "\"");
    const test::SampleErp erp = sample(dir, c.host);
    const std::string expectedLocation =
        (*c.host ? std::string(c.host) + ":" : std::string()) + utf8(dir / "ERP.fdb");
    EXPECT_EQ(erp.mainLocation, expectedLocation);
    // The server made the file where the Windows name says.
    EXPECT_TRUE(fs::exists(dir / "ERP.fdb"));

    IbDatabase db;
    connectDatabase(db, erp.mainLocation, env.user, env.password);
    IbTransaction tr(db);
    IbQuery q(db, tr);
    q.SetSQL("select EMPRAZAOSOC, EMPFANTASIA from EMPRESA where EMPCODIGO = 1");
    q.Open();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.Fields[0].AsString(), test::sampleCompanyName(1, false));
    EXPECT_EQ(q.Fields[1].AsString(), test::sampleTradeName(1, false));
    q.Close();
    tr.Commit();
    db.Close();
    const auto counts = test::sampleRowCounts(erp.mainLocation, env);
    EXPECT_EQ(counts.at("EMPRESA"), 2);
    EXPECT_GT(counts.at("VENOBS characters"), 0);
  }
}

// Backups into an accented folder of the prefix's drive, through the local manager ("L",
// a plain location) and the server's ("R", a location with its host), with the targets the
// program derives; restored through each manager into a new database beside them, with the
// same rows. The host's gbak restores the same backup files through the server.
TEST_F(WindowsDatabase, ServiceBackupsAndRestoresBetweenAccentedWindowsFolders) {
  const test::SampleErp erp = sample(folder(env.dbDir, "Sistema"), "");
  const auto expected = test::sampleRowCounts(erp.mainLocation, env);
  const fs::path backups = folder("C:\\", "Cópia de Segurança");
  struct Case {
    const char* localRemote;
    std::string location;
    const char* manager;
  };
  for (const Case& c : {Case{"L", erp.mainLocation, "service_mgr"},
                        Case{"R", "localhost:" + erp.mainLocation, "localhost:service_mgr"}}) {
    SCOPED_TRACE(c.localRemote);
    const fs::path fbk = backups / u8(std::string("Cópia diária ") + c.localRemote + ".fbk");
    TIBBackupService backup;
    setCredentials(backup);
    backup.Verbose = true;
    applyServiceTarget(backup, manualBackupTarget(c.localRemote, c.location));
    EXPECT_EQ(backup.ServiceManagerName(), c.manager);
    EXPECT_EQ(backup.DatabaseName, erp.mainLocation);
    backup.BackupFile.Add(utf8(fbk));
    const std::vector<std::string> lines = runService(backup);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "");
    size_t tables = 0, named = 0;
    for (const std::string& line : lines) {
      tables += line.find("writing data for") != line.npos;
      // The server's lines name the files as the program gave them, as on Windows.
      named += line.find("creating file " + utf8(fbk)) != line.npos;
    }
    EXPECT_GT(tables, 0u);
    EXPECT_EQ(named, 1u);
    ASSERT_TRUE(fs::exists(fbk));
    EXPECT_GT(fs::file_size(fbk), 0u);

    TIBRestoreService restore;
    setCredentials(restore);
    restore.Protocol = backup.Protocol;
    restore.ServerName = backup.ServerName;
    restore.Verbose = true;
    restore.PageSize = 8192;
    const fs::path fdb = backups / u8(std::string("Restauração ") + c.localRemote + ".fdb");
    restore.DatabaseName.Add(utf8(fdb));
    restore.BackupFile.Add(utf8(fbk));
    EXPECT_EQ(runService(restore).back(), "");
    EXPECT_EQ(test::sampleRowCounts(utf8(fdb), env), expected);

    // Wine's names go through the drive links of its prefix; the server is given the
    // folders themselves.
    const fs::path byGbak = backups / u8(std::string("Restauração gbak ") + c.localRemote + ".fdb");
    const test::HostResult gbak = test::runOnHost(
        "LC_ALL=C.UTF-8 gbak -c -se localhost:service_mgr -user '" + env.user + "' -password '" +
        env.password + "' \"$(realpath '" + test::hostPath(utf8(fbk)) + "')\" \"$(realpath -m '" +
        test::hostPath(utf8(byGbak)) + "')\"");
    ASSERT_EQ(gbak.status, 0) << gbak.output;
    EXPECT_EQ(test::sampleRowCounts(utf8(byGbak), env), expected);
  }
}

// What the server says of an accented name reads as it was written, and the client's
// refusals carry their own texts.
TEST_F(WindowsDatabase, ServerErrorsAboutAccentedNamesReadAsWritten) {
  const fs::path dir = folder("C:\\", "Cópia de Segurança");
  IbDatabase db;
  const std::string missing = "localhost:" + utf8(dir / u8("Não existe.fdb"));
  const std::string error =
      errorText([&] { connectDatabase(db, missing, env.user, env.password); });
  EXPECT_NE(error.find("Cópia de Segurança"), std::string::npos) << error;
  EXPECT_NE(error.find("Não existe.fdb"), std::string::npos) << error;
  EXPECT_FALSE(db.Connected());

  const test::SampleErp erp = sample(folder(env.dbDir, "Senha"), "localhost");
  const std::string refused =
      errorText([&] { connectDatabase(db, erp.mainLocation, env.user, env.password + "x"); });
  EXPECT_NE(refused.find("password"), std::string::npos) << refused;
  EXPECT_FALSE(db.Connected());
}

}  // namespace
}  // namespace dovra
