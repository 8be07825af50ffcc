#include "transfer/maker_servers.h"

#include <charconv>
#include <cstdlib>

#include "platform/error.h"
#include "transfer/ftp_session.h"

#if !defined(DOVRA_FTP_HOST_DEFAULT) || !defined(DOVRA_WEB_HOST_DEFAULT)
#error "the build passes DOVRA_FTP_HOST_DEFAULT and DOVRA_WEB_HOST_DEFAULT"
#endif

namespace dovra {

namespace {

constexpr int kUploadFtpPort = 5510;
constexpr int kNfeFtpPort = 5521;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

int parsePort(const std::string& text, const char* variable) {
  int port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || port < 1 ||
      port > 65535) {
    throw Exception(std::string("Invalid port in $") + variable + ": \"" + text + "\"");
  }
  return port;
}

// Splits "host", "host:port", "[v6]" or "[v6]:port"; port 0 when none is given.
ServerAddress splitHostPort(const std::string& text, const char* variable) {
  ServerAddress address;
  std::string rest;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) throw Exception(std::string("Invalid host in $") + variable);
    address.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') {
      throw Exception(std::string("Invalid host in $") + variable);
    }
    if (!rest.empty()) address.port = parsePort(rest.substr(1), variable);
    return address;
  }
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    address.host = text;
  } else {
    address.host = text.substr(0, colon);
    address.port = parsePort(text.substr(colon + 1), variable);
  }
  return address;
}

ServerAddress configuredFtpHost() {
  const std::string value = environment("DOVRA_FTP_HOST");
  if (value.empty()) return {DOVRA_FTP_HOST_DEFAULT, 0};
  return splitHostPort(value, "DOVRA_FTP_HOST");
}

}  // namespace

ServerAddress uploadFtpServer() {
  ServerAddress address = configuredFtpHost();
  const std::string port = environment("DOVRA_FTP_PORT");
  if (!port.empty()) {
    address.port = parsePort(port, "DOVRA_FTP_PORT");
  } else if (address.port == 0) {
    address.port = kUploadFtpPort;
  }
  return address;
}

ServerAddress nfeFtpServer() {
  ServerAddress address = configuredFtpHost();
  const std::string port = environment("DOVRA_NFE_FTP_PORT");
  address.port = port.empty() ? kNfeFtpPort : parsePort(port, "DOVRA_NFE_FTP_PORT");
  return address;
}

std::string webServerBaseUrl() {
  const std::string value = environment("DOVRA_WEB_HOST");
  if (value.empty()) return std::string("http://") + DOVRA_WEB_HOST_DEFAULT;
  const ServerAddress address = splitHostPort(value, "DOVRA_WEB_HOST");
  const bool v6 = address.host.find(':') != std::string::npos;
  std::string url = "http://" + (v6 ? "[" + address.host + "]" : address.host);
  if (address.port) url += ":" + std::to_string(address.port);
  return url;
}

void useMakerAccount(TIdFTP& ftp, const ServerAddress& server) {
  ftp.Host = server.host;
  ftp.Port = server.port;
  ftp.Username = "copia_ftp_dovra";
  ftp.Password = "lotusgravelz2";
  ftp.Passive = true;
  ftp.RecvBufferSize = 8192;
  ftp.SendBufferSize = 32768;
}

}  // namespace dovra
