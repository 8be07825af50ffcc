#include "app/command_line.h"

#include <cstring>
#include <string_view>

namespace dovra {

std::string usageText() {
  return "Usage: backupdovra [--headless]\n"
         "       backupdovra --setup ID --database LOCATION --backup-folder DIR [options]\n"
         "       backupdovra --help | --version\n"
         "\n"
         "Without arguments: the tray program, or the console front end (JSON lines) when\n"
         "--headless is given or there is no display.\n"
         "\n"
         "--setup ID writes the identifier file into $DOVRA_PROGRAM_DIR/CONFIGURACAO/ and, when\n"
         "it does not exist, the settings file $DOVRA_WINDOWS_DIR/ID.dvk. Options:\n"
         "  --database LOCATION      main ERP database (host:/path/ERP.FDB or a path)\n"
         "  --nfe-database LOCATION  NF-e database (default: none, the main location again)\n"
         "  --user NAME              database user (default SYSDBA)\n"
         "  --password TEXT          database password\n"
         "  --backup-folder DIR      folder of the automatic backups\n"
         "  --manual-folder DIR      folder of the manual backups (default: the backup folder)\n"
         "  --extra-folder DIR       folder of the extra copy of manual backups\n"
         "  --times T1,T2[,T3]       backup times and upload time, hh:mm (default\n"
         "                           09:30,16:30,12:00; an empty T3 means no upload)\n"
         "  --local | --remote       database server on this machine (default) or remote\n"
         "  --no-verify              do not restore each automatic archive in idle time to\n"
         "                           prove it ([backupdovra] verificar=N)\n"
         "\n"
         "Exit status: 0 done; 1 the start sequence ended the program; 2 another instance of\n"
         "the installation runs; 64 usage error; 73 --setup could not write its files.\n";
}

namespace {

bool splitTimes(std::string_view text, std::string (&times)[3]) {
  std::string parts[3];
  int n = 0;
  size_t pos = 0;
  for (;;) {
    if (n == 3) return false;
    const size_t comma = text.find(',', pos);
    parts[n++] = std::string(text.substr(pos, comma - pos));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  if (n < 2) return false;
  times[0] = parts[0];
  times[1] = parts[1];
  times[2] = n == 3 ? parts[2] : std::string();
  return true;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine cl;
  auto fail = [&cl](std::string message) {
    cl.action = CommandLine::Action::UsageError;
    cl.error = std::move(message);
    return cl;
  };
  bool setupOnly = false;  // an option that only --setup takes was given
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "--headless") {
      cl.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      cl.action = CommandLine::Action::Help;
      return cl;
    } else if (arg == "--version") {
      cl.action = CommandLine::Action::Version;
      return cl;
    } else if (arg == "--setup") {
      if (!value(cl.setup.id)) return fail("--setup needs the installation identifier");
      cl.action = CommandLine::Action::Setup;
    } else if (arg == "--database" || arg == "--nfe-database" || arg == "--user" ||
               arg == "--password" || arg == "--backup-folder" || arg == "--manual-folder" ||
               arg == "--extra-folder" || arg == "--times") {
      std::string v;
      if (!value(v)) return fail(std::string(arg) + " needs a value");
      setupOnly = true;
      auto& s = cl.setup;
      if (arg == "--database") s.database = v;
      if (arg == "--nfe-database") s.nfeDatabase = v;
      if (arg == "--user") s.user = v;
      if (arg == "--password") s.password = v;
      if (arg == "--backup-folder") s.backupFolder = v;
      if (arg == "--manual-folder") s.manualFolder = v;
      if (arg == "--extra-folder") s.manualFolder2 = v;
      if (arg == "--times" && !splitTimes(v, s.times)) {
        return fail("--times takes T1,T2 or T1,T2,T3");
      }
    } else if (arg == "--local" || arg == "--remote") {
      setupOnly = true;
      cl.setup.localRemote = arg == "--local" ? "L" : "R";
    } else if (arg == "--no-verify") {
      setupOnly = true;
      cl.setup.verify = false;
    } else {
      return fail("unknown argument: " + std::string(arg));
    }
  }
  if (setupOnly && cl.action != CommandLine::Action::Setup) {
    return fail("the installation options go with --setup ID");
  }
  if (cl.action == CommandLine::Action::Setup && cl.headless) {
    return fail("--setup and --headless do not go together");
  }
  return cl;
}

}  // namespace dovra
