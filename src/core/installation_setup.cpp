#include "core/installation_setup.h"

#include <string_view>
#include <system_error>

#include "core/cripto.h"
#include "core/identifier_file.h"
#include "core/settings_store.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

// The mode that undoes the program's unscrambling.
constexpr int32_t kScramble = 0;

bool isTime(const std::string& t) {
  if (t.size() != 5 || t[2] != ':') return false;
  for (size_t i : {0u, 1u, 3u, 4u}) {
    if (t[i] < '0' || t[i] > '9') return false;
  }
  return (t[0] - '0') * 10 + (t[1] - '0') < 24 && (t[3] - '0') * 10 + (t[4] - '0') < 60;
}

std::string scrambledIdentifier(const std::string& id) {
  if (id.empty()) throw SetupRefused("the identifier is empty");
  for (const unsigned char c : id) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
      throw SetupRefused("the identifier may not hold control characters, \"/\" or \"\\\"");
    }
  }
  if (id == "." || id == "..") throw SetupRefused("the identifier cannot name a file");
  const std::string bytes = utf8ToCp1252(id);
  if (cp1252ToUtf8(bytes) != id) {
    throw SetupRefused("the identifier holds characters that Windows-1252 cannot write");
  }
  const std::string scrambled = cripto(bytes, kScramble);
  // The program reads the identifier up to the first line break or end-of-file mark.
  for (const char c : scrambled) {
    if (c == '\r' || c == '\n' || c == '\x1A') {
      throw SetupRefused("the identifier \"" + id +
                         "\" cannot be stored: its scrambled form would break its line");
    }
  }
  return scrambled;
}

std::string settingsBytes(const InstallationSetup& s) {
  namespace k = settings_keys;
  if (s.database.empty()) throw SetupRefused("--database is required");
  if (s.backupFolder.empty()) throw SetupRefused("--backup-folder is required");
  if (s.localRemote != "L" && s.localRemote != "R") {
    throw SetupRefused("the server is local (L) or remote (R)");
  }
  for (const auto& t : s.times) {
    if (!t.empty() && !isTime(t)) throw SetupRefused("\"" + t + "\" is not a time hh:mm");
  }
  if (s.times[0].empty() || s.times[1].empty()) {
    throw SetupRefused("both backup times are needed");
  }
  const std::string backup = withTrailingSeparator(s.backupFolder);
  const std::string manual =
      s.manualFolder.empty() ? backup : withTrailingSeparator(s.manualFolder);
  const std::string manual2 =
      s.manualFolder2.empty() ? std::string() : withTrailingSeparator(s.manualFolder2);

  struct Entry {
    const char* section;
    const char* key;
    std::string raw;
  };
  const std::vector<Entry> entries = {
      {k::kConexao, k::kEndereco, utf8ToCp1252(s.database)},
      {k::kConexao, k::kUsuario, cripto(utf8ToCp1252(s.user), kScramble)},
      {k::kConexao, k::kSenha, cripto(utf8ToCp1252(s.password), kScramble)},
      {k::kCnxNfe, k::kEndereco, utf8ToCp1252(s.nfeDatabase.empty() ? s.database : s.nfeDatabase)},
      {k::kBackup, k::kTempo1, s.times[0]},
      {k::kBackup, k::kTempo2, s.times[1]},
      {k::kBackup, k::kTempo3, s.times[2]},
      {k::kBackup, k::kLocalRemoto, s.localRemote},
      {k::kBackup, k::kEnderecoBackup, utf8ToCp1252(backup)},
      {k::kBackup, k::kCaminhoBkpManual, utf8ToCp1252(manual)},
      {k::kBackup, k::kCaminhoBkpManual2, utf8ToCp1252(manual2)},
      {k::kBackupDovra, k::kVerificar, s.verify ? "S" : "N"},
  };
  IniDocument doc;
  for (const auto& e : entries) doc.setValue(e.section, e.key, e.raw);
  // A value the file would give back differently (a scrambled credential that begins or
  // ends with a blank or a quote, a line break) would leave an installation that cannot
  // connect: refuse it rather than write it.
  const IniDocument check(doc.bytes());
  for (const auto& e : entries) {
    if (check.value(e.section, e.key) == e.raw) continue;
    const std::string what = std::string("the value of ") + e.section + "/" + e.key +
                             " cannot be stored in the settings file as given";
    if (e.raw.find_first_of("\r\n") != std::string::npos) {
      throw SetupRefused(what + ": it holds a line break");
    }
    const bool scrambled = e.key == std::string_view(k::kUsuario) ||
                           e.key == std::string_view(k::kSenha);
    if (!scrambled) {
      throw SetupRefused(what + ": choose one that does not begin or end with a blank or a quote");
    }
    const char* name = e.key == std::string_view(k::kSenha) ? "password" : "user name";
    throw SetupRefused(what + ": scrambled, this " + name +
                       " would begin or end with a blank or a quote, which the file cannot keep;"
                       " choose another " + name + " (another first or last character is enough)");
  }
  return doc.bytes();
}

void writeFile(const std::string& path, const std::string& bytes) {
  try {
    makeDirectories(directoryPart(path));
    writeFileAtomically(path, bytes);
  } catch (const std::system_error& e) {
    throw Exception(path + ": " + systemErrorText(e.code().value()));
  }
}

}  // namespace

SetupReport setupInstallation(const InstallationSetup& setup) {
  const std::string scrambled = scrambledIdentifier(setup.id);
  const std::string identifierPath = identifierFilePath();
  const std::string settingsPath = settingsFilePath(setup.id);
  const bool haveSettings = fileExists(settingsPath);
  // Every value is checked before anything is written.
  const std::string settings = haveSettings ? std::string() : settingsBytes(setup);

  SetupReport report;
  if (fileExists(identifierPath)) {
    std::string current;
    try {
      current = cripto(readFirstLine(identifierPath), 1);
    } catch (const Exception&) {
    }
    if (current != utf8ToCp1252(setup.id)) {
      throw SetupRefused(identifierPath + " already names the installation \"" +
                         cp1252ToUtf8(current) + "\"");
    }
    report.lines.push_back(identifierPath + ": kept (names " + setup.id + ")");
  } else {
    writeFile(identifierPath, scrambled + "\r\n");
    report.lines.push_back(identifierPath + ": written");
  }
  if (haveSettings) {
    report.lines.push_back(settingsPath + ": exists, left unchanged");
  } else {
    writeFile(settingsPath, settings);
    report.lines.push_back(settingsPath + ": written");
  }
  return report;
}

}  // namespace dovra
