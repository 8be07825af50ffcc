// What the automatic and the manual backup share: one backup pass through a service
// connection, the names of a pass's files, the pass's log file, the full-disk test, the
// failure balloon and the removal of backup files no archive holds.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "archive/growing_pack.h"
#include "firebird/ib_service.h"
#include "firebird/service_target.h"

namespace dovra {

class WindowModel;

// How a backup run packs its backup files.
struct BackupPacking {
  // Pack each backup file while the server writes it, when the server runs on this machine;
  // otherwise (or when false) pack the complete files after the backups.
  bool whileWritten = true;
  FollowOptions follow;
};

// The backup file of a pass: folder + base name + suffix ("_AUTO.fbk", or the manual stamp
// followed by ".fbk"), joined as they stand.
inline std::string backupFilePath(const std::string& folder, const std::string& baseName,
                                  const std::string& suffix) {
  return folder + baseName + suffix;
}

// The log of a pass: the backup file's name less its last four characters, then ".txt".
std::string passLogPath(const std::string& backupFile);

// Sets up `service` for one pass (credentials, verbose, target, the one backup file),
// attaches, starts the backup and hands every output line, the final empty one included,
// to `onLine`. Always detaches before returning; the service's errors propagate.
void runBackupPass(TIBBackupService& service, const std::string& user, const std::string& password,
                   const ServiceTarget& target, const std::string& backupFile,
                   const std::function<void(const std::string&)>& onLine);

// Saves the lines of a memo to `path` (each line ended by CR LF), replacing the file
// atomically. Throws on failure.
void saveMemoLines(const std::vector<std::string>& lines, const std::string& path);

// A failure caused by a full disk: the server's message says "disk space", or the archive
// could not be written for lack of space.
bool isDiskSpaceError(const std::exception& error);

// True for the verbose lines that stand for one step of the progress estimate.
bool isProgressLine(const std::string& line);

// The balloon of a failed backup run: "Espaço em disco esgotado." for a full disk,
// otherwise the one that sends the operator to the log.
void showBackupFailureBalloon(WindowModel& window, bool diskFull);

// Removes the backup files `paths` (a missing file or a failed removal is left alone). A
// run removes its own backup files once it is over, whether its archive holds them or could
// not be written: on a full disk they would hold the space that the next run needs.
void removeBackupFiles(const std::vector<std::string>& paths);

// True when `fileName` is a manual backup file of `baseName`: the base name followed by a
// stamp "_ddmmyy_hh_nn_ss" and ".fbk".
bool isManualBackupFileName(const std::string& fileName, const std::string& baseName);

// Removes from `folder` (joined as it stands) the manual backup files of `baseNames` that
// earlier runs left behind. Logs and every other file stay.
void removeManualBackupLeftovers(const std::string& folder,
                                 const std::vector<std::string>& baseNames);

}  // namespace dovra
