// Real servers on loopback for the tests, each a Python process started and stopped by an
// RAII object: an FTP server (Debian's pyftpdlib, tests/support/ftp_server.py) and an
// HTTP server that records every request (tests/support/http_server.py). Any number of
// them may run at once, each on its own free port. The
// constructors return once the server accepts connections and throw std::runtime_error
// (with the server's log) when it does not start.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace dovra::test {

// A child process that prints "PORT <n>" when it listens; killed when the object dies.
class ServerProcess {
 public:
  // argv[0] is the program; stderr goes to logPath.
  ServerProcess(const std::vector<std::string>& argv, const std::string& logPath);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }

 private:
  // Each system's (test_servers_posix.cpp, test_servers_windows.cpp): starts the server
  // with its port to be written into `portFile` and its standard error into `logPath`, and
  // stops it.
  void launch(std::vector<std::string> argv, const std::string& logPath,
              const std::string& portFile);
  void stop();
#ifdef _WIN32
  std::string stopFile_;  // the server stops once this file exists
#else
  pid_t pid_ = -1;
#endif
  int port_ = 0;
};

// The account the program uses on the maker's FTP servers.
inline constexpr const char* kFtpUser = "copia_ftp_dovra";
inline constexpr const char* kFtpPassword = "lotusgravelz2";

// pyftpdlib serving `root` (which must exist) to one account with every right needed;
// without `knowsSize`, a server that answers SIZE as an unknown command (500).
class FtpTestServer {
 public:
  explicit FtpTestServer(std::filesystem::path root, bool knowsSize = true);

  std::string host() const { return "127.0.0.1"; }
  int port() const { return process_->port(); }
  const std::filesystem::path& root() const { return root_; }
  // The server's log so far (sessions, transfers), for failure messages.
  std::string log() const;

 private:
  std::filesystem::path root_;
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// A relay in front of the FTP server on `upstreamPort` that lets only the first `limit`
// bytes of each upload through and then closes its side towards the server in order, as
// a connection that ended cleanly in transit would (tests/support/cutting_ftp_proxy.py).
// Downloads pass whole.
class CuttingFtpProxy {
 public:
  CuttingFtpProxy(int upstreamPort, size_t limit);
  int port() const { return process_->port(); }

 private:
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// An HTTP server serving the files of `root`; every request's path and query is recorded.
class HttpTestServer {
 public:
  explicit HttpTestServer(std::filesystem::path root);

  std::string host() const { return "127.0.0.1"; }
  int port() const { return process_->port(); }
  // "127.0.0.1:<port>", as $DOVRA_WEB_HOST takes it.
  std::string hostPort() const { return host() + ":" + std::to_string(port()); }
  // "http://127.0.0.1:<port>"
  std::string baseUrl() const { return "http://" + hostPort(); }
  // Path and query of every request received so far, in order.
  std::vector<std::string> requests() const;

 private:
  std::filesystem::path root_;
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// A socket bound to a free loopback port, which goes to `port`; listening with `backlog`
// unless that is negative. Throws when it cannot.
int bindLoopback(int& port, int backlog = 4);
// A socket connected to 127.0.0.1:`port`, or -1 when nothing accepts there.
int connectLoopback(int port);
// A loopback port on which nothing listens (connections are refused).
int refusedLoopbackPort();

// A path as the servers, host programs, name it: under Wine the host's (Unix) name of a
// Windows path, host paths ("/...") staying as they are, and the name of a file still to be
// made its folder's host name and the file's name; elsewhere the path itself.
std::string hostPath(const std::string& path);

#ifdef _WIN32
// Windows build only, under Wine: the host's side of things.
// Runs `script` with the host's /bin/sh and waits for it, at most `limit`; its exit status
// (-1 when it did not end in time) and what it printed, standard output and error together.
struct HostResult {
  int status = -1;
  std::string output;
};
HostResult runOnHost(const std::string& script,
                     std::chrono::seconds limit = std::chrono::seconds(120));
#endif

// The tests' own ends of loopback connections, the same calls on every system (the socket
// numbers above are Winsock's on Windows).
// A connection accepted on `listener`, with no delay on its sends; -1 on failure.
int acceptLoopback(int listener);
// Bytes sent or received, or -1 on failure; a send to a closed peer raises no signal.
long sendLoopback(int fd, const void* data, size_t count);
long receiveLoopback(int fd, void* buffer, size_t count);
// Whether `fd` turns readable (or its peer closes) within `timeoutMs` milliseconds.
bool waitLoopbackReadable(int fd, int timeoutMs);
// Closes `fd`; with `reset`, the peer sees the connection reset instead of its end.
void closeLoopback(int fd, bool reset = false);

// A loopback listener that never accepts and whose backlog is already full, so a new
// connection attempt gets no answer at all (its SYN is dropped) until the object dies.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

}  // namespace dovra::test
