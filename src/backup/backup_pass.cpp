#include "backup/backup_pass.h"

#include <string_view>
#include <system_error>

#include "archive/stream.h"
#include "core/window_model.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace dovra {

std::string passLogPath(const std::string& backupFile) {
  const size_t length = utf8Length(backupFile);
  return utf8Left(backupFile, length >= 4 ? length - 4 : 0) + ".txt";
}

void runBackupPass(TIBBackupService& service, const std::string& user, const std::string& password,
                   const ServiceTarget& target, const std::string& backupFile,
                   const std::function<void(const std::string&)>& onLine) {
  struct DetachAtEnd {
    TIBBackupService& s;
    ~DetachAtEnd() { s.Detach(); }
  } detach{service};
  service.Params.Clear();
  service.Params.SetValue("user_name", user);
  service.Params.SetValue("password", password);
  service.Verbose = true;
  applyServiceTarget(service, target);
  service.BackupFile.Clear();
  service.BackupFile.Add(backupFile);
  service.Attach();
  service.ServiceStart();
  while (!service.OutputFinished()) onLine(service.ReadOutputLine());
}

void saveMemoLines(const std::vector<std::string>& lines, const std::string& path) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  try {
    writeFileAtomically(path, text);
  } catch (const std::system_error& e) {
    throw Exception("Cannot create file \"" + path + "\". " + systemErrorText(e.code().value()));
  }
}

bool isDiskSpaceError(const std::exception& error) {
  if (std::string(error.what()).find("disk space") != std::string::npos) return true;
  const auto* write = dynamic_cast<const EWriteError*>(&error);
  return write && write->diskFull();
}

bool isProgressLine(const std::string& line) {
  return line.find("writing index") != std::string::npos ||
         line.find("writing table") != std::string::npos ||
         line.find("writing data for") != std::string::npos;
}

void showBackupFailureBalloon(WindowModel& window, bool diskFull) {
  if (diskFull) {
    window.showBalloon("Erro ao efetuar BackUp", "Espaço em disco esgotado.", BalloonIcon::Error,
                       50);
  } else {
    window.showBalloon("BackUp Dovra", "Erro ao efetuar backUp, verifique o log e tente novamente.",
                       BalloonIcon::Error, 50);
  }
}

void removeBackupFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) removeFile(path);
}

bool isManualBackupFileName(const std::string& fileName, const std::string& baseName) {
  // "_ddmmyy_hh_nn_ss.fbk": '#' stands for a digit.
  static constexpr std::string_view kStamp = "_######_##_##_##.fbk";
  if (baseName.empty() || fileName.size() != baseName.size() + kStamp.size() ||
      fileName.compare(0, baseName.size(), baseName) != 0) {
    return false;
  }
  for (size_t i = 0; i < kStamp.size(); ++i) {
    const char c = fileName[baseName.size() + i];
    if (kStamp[i] == '#' ? (c < '0' || c > '9') : c != kStamp[i]) return false;
  }
  return true;
}

void removeManualBackupLeftovers(const std::string& folder,
                                 const std::vector<std::string>& baseNames) {
  std::vector<std::string> leftovers;
  for (const std::string& name : folderEntryNames(folder)) {
    for (const std::string& base : baseNames) {
      if (isManualBackupFileName(name, base)) leftovers.push_back(folder + name);
    }
  }
  removeBackupFiles(leftovers);
}

}  // namespace dovra
