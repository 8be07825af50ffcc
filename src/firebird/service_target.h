// Where a backup request goes: the protocol, server and database name a backup service
// connection gets from the settings `LocalRemote`, `DatabasePath` and `BackupFolder`.
//
// `LocalRemote` "L" (exactly, case-sensitive) selects the database server on this machine:
// a location without a host part ("/var/db/ERP.fdb", "C:\\...") goes unchanged to the local
// manager "service_mgr" (the embedded engine); a location with one ("srv:/var/db/ERP.fdb",
// "srv/3051:...") goes to the local server's manager on loopback ("localhost" with the
// location's "/port", if any) as its path alone, since the server's services take file paths
// only. Any other value selects TCP; the
// database name is the text after the first ":" of `DatabasePath` (the whole text when
// it has none), and the server is
//  - for the automatic backup, the host of the backup folder's network path: at most 20
//    characters from the folder's third character, cut before the first "\" or "/"
//    ("\\host\share\..." or "//host/share/..." give "host"). A folder written as a local
//    path ("C:\...", or "/..." with a single leading slash) gives no host;
//  - for the manual backup, the host before the first ":" within the first 20
//    characters of `DatabasePath` (none when no ":" falls there).
// An empty server makes the attach fail with "Server Name Missing". Characters are
// counted as characters of the UTF-8 text, not bytes. Pure functions.
#pragma once

#include <string>
#include <string_view>

#include "firebird/ib_service.h"

namespace dovra {

struct ServiceTarget {
  TProtocol Protocol = TProtocol::Local;
  bool setsServerName = false;  // false under Local: ServerName is left as it is
  std::string ServerName;
  std::string DatabaseName;
};

ServiceTarget automaticBackupTarget(std::string_view localRemote, std::string_view databasePath,
                                    std::string_view backupFolder);
ServiceTarget manualBackupTarget(std::string_view localRemote, std::string_view databasePath);

// Whether the server that writes the backup file runs on this machine (the local manager, or
// a server reached on loopback as "localhost"), so that the file can be read while it grows.
bool writtenOnThisMachine(const ServiceTarget& target);

// Sets Protocol, ServerName (under TCP only) and DatabaseName of `service`.
void applyServiceTarget(TIBBackupService& service, const ServiceTarget& target);

}  // namespace dovra
