// Writes a new installation without hand work: the identifier file in the program folder
// and, when there is none yet, the settings file in the settings folder, with every key
// the program reads. Called by `backupdovra --setup`; asks nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/error.h"

namespace dovra {

struct InstallationSetup {
  std::string id;           // the installation's identifier (UTF-8)
  std::string database;     // "conexao"/"endereco": host:/path/ERP.FDB or a local path
  std::string nfeDatabase;  // "cnxnfe"/"endereco"; empty: the main location again
  std::string user = "SYSDBA";
  std::string password;
  std::string backupFolder;   // "enderecobackup"; a trailing "/" is added
  std::string manualFolder;   // "caminhobkpmanual"; empty: the backup folder
  std::string manualFolder2;  // "caminhobkpmanual2"; may stay empty
  std::string times[3] = {"09:30", "16:30", "12:00"};  // tempo1, tempo2, tempo3 ("" = none)
  std::string localRemote = "L";                       // "L" or "R"
  bool verify = true;  // "backupdovra"/"verificar": S, or N to leave archives unchecked
};

// A value the program could not read back as given (an identifier that cannot name a file,
// a time that is not hh:mm, a credential that does not survive scrambling into the file).
class SetupRefused : public Exception {
 public:
  using Exception::Exception;
};

// What setupInstallation did, one line per file, for the administrator.
struct SetupReport {
  std::vector<std::string> lines;
};

// Writes programFolder()/CONFIGURACAO/application.dvk (the identifier scrambled the way
// the program unscrambles it, then CR LF) and, when settingsFolder()/<id>.dvk does not
// exist, that file; an existing settings file is never touched. Both are written
// atomically; missing folders are created. An identifier file that already names another
// installation is refused. Throws SetupRefused for values the program could not use (the
// files are then unchanged) and Exception with the system's text when a file cannot be
// written.
SetupReport setupInstallation(const InstallationSetup& setup);

}  // namespace dovra
