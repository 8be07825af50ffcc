// Where the maker's servers are. The hosts are build-time defaults (FtpServerHost,
// WebServerHost) that the environment overrides for tests and demos:
//   $DOVRA_FTP_HOST      host or host:port of the FTP server (the port, if given, is the
//                        upload server's)
//   $DOVRA_FTP_PORT      port of the upload and updater FTP service (default 5510)
//   $DOVRA_NFE_FTP_PORT  port of the NF-e FTP service (default 5521)
//   $DOVRA_WEB_HOST      host or host:port of the web server
// Read on every call; safe from any thread as long as nobody changes the environment.
// A port that is not a number from 1 to 65535 throws dovra::Exception naming the variable.
#pragma once

#include <string>

namespace dovra {

class TIdFTP;

struct ServerAddress {
  std::string host;
  int port = 0;
};

// FtpServerHost with the port of the daily upload and the self-update (5510).
ServerAddress uploadFtpServer();
// FtpServerHost with the port of the NF-e export (5521).
ServerAddress nfeFtpServer();
// "http://" + WebServerHost, with ":port" when one is configured; no trailing slash.
std::string webServerBaseUrl();

// Points a session at one of the maker's FTP services with the program's account: passive
// mode, 8 KiB receive chunks, 32 KiB send chunks. Opening the session is the caller's.
void useMakerAccount(TIdFTP& ftp, const ServerAddress& server);

}  // namespace dovra
