// Protocol, server and database name of a backup request from the settings.
#include <gtest/gtest.h>

#include "firebird/service_target.h"

namespace dovra {
namespace {

struct Case {
  const char* localRemote;
  const char* databasePath;
  const char* backupFolder;
  TProtocol protocol;
  const char* server;  // nullptr: not set
  const char* database;
};

void expectTarget(const ServiceTarget& t, const Case& c) {
  EXPECT_EQ(t.Protocol, c.protocol);
  if (c.server == nullptr) {
    EXPECT_FALSE(t.setsServerName);
  } else {
    EXPECT_TRUE(t.setsServerName);
    EXPECT_EQ(t.ServerName, c.server);
  }
  EXPECT_EQ(t.DatabaseName, c.database);
}

TEST(ServiceTarget, AutomaticBackupTakesTheHostOfTheBackupFolder) {
  const Case cases[] = {
      // Local: a plain path goes unchanged to the local manager, with no server name; a
      // location with a host goes as its path to the server on this machine.
      {"L", "/var/db/ERP.fdb", "/srv/bkp/", TProtocol::Local, nullptr, "/var/db/ERP.fdb"},
      {"L", "C:\\dados\\ERP.fdb", "/srv/bkp/", TProtocol::Local, nullptr, "C:\\dados\\ERP.fdb"},
      {"L", "srv:C:\\dados\\ERP.fdb", "\\\\srv\\bkp\\", TProtocol::TCP, "localhost",
       "C:\\dados\\ERP.fdb"},
      {"L", "localhost/3051:/var/db/ERP.fdb", "/srv/bkp/", TProtocol::TCP, "localhost/3051",
       "/var/db/ERP.fdb"},
      // Only "L" exactly is local.
      {"l", "srv:C:\\dados\\ERP.fdb", "\\\\filer\\bkp\\", TProtocol::TCP, "filer",
       "C:\\dados\\ERP.fdb"},
      {"", "srv:C:\\dados\\ERP.fdb", "\\\\filer\\bkp\\", TProtocol::TCP, "filer",
       "C:\\dados\\ERP.fdb"},
      {"L ", "db", "\\\\h\\x\\", TProtocol::TCP, "h", "db"},
      // The host of a network folder, written either way.
      {"R", "servidor:/var/db/ERP.fdb", "//servidor/backup/dia/", TProtocol::TCP, "servidor",
       "/var/db/ERP.fdb"},
      {"R", "servidor:/var/db/ERP.fdb", "\\\\servidor/backup/", TProtocol::TCP, "servidor",
       "/var/db/ERP.fdb"},
      // A drive folder: the piece begins with "\", no server.
      {"R", "srv:C:\\dados\\ERP.fdb", "C:\\Backup\\", TProtocol::TCP, "", "C:\\dados\\ERP.fdb"},
      // A local folder with one leading slash is not a network path either.
      {"R", "srv:/var/db/ERP.fdb", "/var/backups/", TProtocol::TCP, "", "/var/db/ERP.fdb"},
      // A host of 20 characters or more: no separator within the piece, no server.
      {"R", "x:db", "\\\\abcdefghijklmnopqrst\\bkp\\", TProtocol::TCP, "", "db"},
      {"R", "x:db", "\\\\abcdefghijklmnopqrs\\bkp\\", TProtocol::TCP, "abcdefghijklmnopqrs", "db"},
      // Characters, not bytes: an 18-character host of 23 bytes still fits.
      {"R", "x:db", "\\\\sãoconceiçãojoãoab\\b\\", TProtocol::TCP, "sãoconceiçãojoãoab", "db"},
      // No ":" in the location: all of it is the database.
      {"R", "/var/db/ERP.fdb", "//h/s/", TProtocol::TCP, "h", "/var/db/ERP.fdb"},
      {"R", "db", "", TProtocol::TCP, "", "db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.localRemote) + " | " + c.databasePath + " | " + c.backupFolder);
    const ServiceTarget t = automaticBackupTarget(c.localRemote, c.databasePath, c.backupFolder);
    expectTarget(t, c);
    // Only a backup the server writes on this machine can be read while it grows.
    EXPECT_EQ(writtenOnThisMachine(t), std::string(c.localRemote) == "L");
  }
  EXPECT_TRUE(writtenOnThisMachine(automaticBackupTarget("R", "x:db", "//localhost/bkp/")));
  EXPECT_FALSE(writtenOnThisMachine(automaticBackupTarget("R", "x:db", "//localhostx/bkp/")));
}

TEST(ServiceTarget, ManualBackupTakesTheHostOfTheLocation) {
  const Case cases[] = {
      {"L", "srv:C:\\dados\\ERP.fdb", "", TProtocol::TCP, "localhost", "C:\\dados\\ERP.fdb"},
      {"L", "/var/db/ERP.fdb", "", TProtocol::Local, nullptr, "/var/db/ERP.fdb"},
      // A host, a colon and a drive path: the drive's own colon stays in the database.
      {"R", "srv:C:\\dados\\ERP.fdb", "", TProtocol::TCP, "srv", "C:\\dados\\ERP.fdb"},
      {"R", "localhost/3999:/var/db/ERP.fdb", "", TProtocol::TCP, "localhost/3999",
       "/var/db/ERP.fdb"},
      // No ":": the whole text is the database, no server.
      {"R", "/var/db/ERP.fdb", "", TProtocol::TCP, "", "/var/db/ERP.fdb"},
      // The first ":" beyond the first 20 characters: no server, the database still split.
      {"R", "abcdefghijklmnopqrstu:/db.fdb", "", TProtocol::TCP, "", "/db.fdb"},
      {"R", "abcdefghijklmnopqrs:/db.fdb", "", TProtocol::TCP, "abcdefghijklmnopqrs", "/db.fdb"},
      {"r", "h:/db.fdb", "", TProtocol::TCP, "h", "/db.fdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.localRemote) + " | " + c.databasePath);
    expectTarget(manualBackupTarget(c.localRemote, c.databasePath), c);
  }
}

TEST(ServiceTarget, AppliedToABackupService) {
  TIBBackupService svc;
  svc.ServerName = "kept";
  applyServiceTarget(svc, manualBackupTarget("L", "/data/db.fdb"));
  EXPECT_EQ(svc.Protocol, TProtocol::Local);
  EXPECT_EQ(svc.ServerName, "kept");
  EXPECT_EQ(svc.DatabaseName, "/data/db.fdb");

  applyServiceTarget(svc, automaticBackupTarget("R", "h:/db.fdb", "C:\\bkp\\"));
  EXPECT_EQ(svc.Protocol, TProtocol::TCP);
  EXPECT_EQ(svc.ServerName, "");
  EXPECT_EQ(svc.DatabaseName, "/db.fdb");
}

}  // namespace
}  // namespace dovra
