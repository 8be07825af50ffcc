#include "firebird/service_target.h"

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

// The host part of a location ("host:path" or "host/port:path"); empty for a plain path
// or a drive path ("C:\\...", whose one-letter prefix is a drive, not a host).
std::string_view hostPart(std::string_view databasePath) {
  const size_t colon = databasePath.find(':');
  if (colon == std::string_view::npos || colon < 2) return {};
  const std::string_view host = databasePath.substr(0, colon);
  if (host.find('\\') != std::string_view::npos) return {};
  const size_t slash = host.find('/');
  if (slash == 0) return {};  // "/path:..." is a path
  return host;
}

// The local service manager. A location that names a server host is backed up by the
// server on this machine, reached on loopback (keeping a "/port" of the location): the
// server's services open databases by their file path only, and the embedded engine that
// "service_mgr" means here cannot open a file the running server holds.
ServiceTarget localTarget(std::string_view databasePath) {
  ServiceTarget target;
  const std::string_view host = hostPart(databasePath);
  if (host.empty()) {
    target.Protocol = TProtocol::Local;
    target.DatabaseName = std::string(databasePath);
    return target;
  }
  const size_t slash = host.find('/');
  target.Protocol = TProtocol::TCP;
  target.setsServerName = true;
  target.ServerName =
      "localhost" +
      (slash == std::string_view::npos ? std::string() : std::string(host.substr(slash)));
  target.DatabaseName = std::string(databasePath.substr(host.size() + 1));
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

bool writtenOnThisMachine(const ServiceTarget& target) {
  if (target.Protocol == TProtocol::Local) return true;
  const std::string& host = target.ServerName;
  return host == "localhost" || host.rfind("localhost/", 0) == 0;
}

void applyServiceTarget(TIBBackupService& service, const ServiceTarget& target) {
  service.Protocol = target.Protocol;
  if (target.setsServerName) service.ServerName = target.ServerName;
  service.DatabaseName = target.DatabaseName;
}

}  // namespace dovra
