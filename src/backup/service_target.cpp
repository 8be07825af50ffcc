#include "backup/service_target.h"

#include "platform/text_codec.h"

namespace dovra {
namespace {

constexpr size_t kHostPieceLength = 20;

// The characters of UTF-8 text from character `start` (0-based), at most `count` of them.
std::string utf8Mid(std::string_view text, size_t start, size_t count) {
  const std::string head = utf8Left(text, start);
  return utf8Left(text.substr(head.size()), count);
}

std::string databaseAfterHost(std::string_view databasePath) {
  const size_t colon = databasePath.find(':');
  if (colon == std::string_view::npos) return std::string(databasePath);
  return std::string(databasePath.substr(colon + 1));
}

ServiceTarget localTarget(std::string_view databasePath) {
  ServiceTarget target;
  target.Protocol = TProtocol::Local;
  target.DatabaseName = std::string(databasePath);
  return target;
}

}  // namespace

ServiceTarget automaticBackupTarget(std::string_view localRemote, std::string_view databasePath,
                                    std::string_view backupFolder) {
  if (localRemote == "L") return localTarget(databasePath);
  ServiceTarget target;
  target.Protocol = TProtocol::TCP;
  target.setsServerName = true;
  target.DatabaseName = databaseAfterHost(databasePath);
  const bool localUnixPath = backupFolder.size() >= 1 && backupFolder[0] == '/' &&
                             !(backupFolder.size() >= 2 && backupFolder[1] == '/');
  if (!localUnixPath) {
    const std::string piece = utf8Mid(backupFolder, 2, kHostPieceLength);
    const size_t separator = piece.find_first_of("\\/");
    // No separator within the piece: the host name is too long to be found.
    if (separator != std::string::npos) target.ServerName = piece.substr(0, separator);
  }
  return target;
}

ServiceTarget manualBackupTarget(std::string_view localRemote, std::string_view databasePath) {
  if (localRemote == "L") return localTarget(databasePath);
  ServiceTarget target;
  target.Protocol = TProtocol::TCP;
  target.setsServerName = true;
  target.DatabaseName = databaseAfterHost(databasePath);
  const std::string piece = utf8Left(databasePath, kHostPieceLength);
  const size_t colon = piece.find(':');
  if (colon != std::string::npos) target.ServerName = piece.substr(0, colon);
  return target;
}

void applyServiceTarget(TIBBackupService& service, const ServiceTarget& target) {
  service.Protocol = target.Protocol;
  if (target.setsServerName) service.ServerName = target.ServerName;
  service.DatabaseName = target.DatabaseName;
}

}  // namespace dovra
