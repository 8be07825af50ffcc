#include "support/test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace dovra::test {

namespace {

using Clock = std::chrono::steady_clock;

const char* kPython = "/usr/bin/python3";

std::string supportScript(const char* name) {
  return std::string(DOVRA_SOURCE_DIR) + "/tests/support/" + name;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool accepts(int port) {
  const int fd = connectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, const std::string& logPath) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  // Read "PORT <n>" within ten seconds.
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  while (port_ > 0 && !accepts(port_) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (port_ <= 0 || !accepts(port_)) {
    stop();
    throw std::runtime_error("server " + argv[1] + " did not start:\n" + fileText(logPath));
  }
}

ServerProcess::~ServerProcess() {
  stop();
}

void ServerProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

FtpTestServer::FtpTestServer(std::filesystem::path root, bool knowsSize)
    : root_(std::move(root)), work_("ftpserver") {
  std::vector<std::string> argv{kPython,      supportScript("ftp_server.py"),
                                "--root",     root_.string(),
                                "--user",     kFtpUser,
                                "--password", kFtpPassword,
                                "--log",      work_.file("server.log")};
  if (!knowsSize) argv.push_back("--no-size");
  process_ = std::make_unique<ServerProcess>(argv, work_.file("stderr.log"));
}

CuttingFtpProxy::CuttingFtpProxy(int upstreamPort, size_t limit) : work_("ftpproxy") {
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kPython, supportScript("cutting_ftp_proxy.py"), "--upstream",
                               std::to_string(upstreamPort), "--limit", std::to_string(limit)},
      work_.file("stderr.log"));
}

std::string FtpTestServer::log() const {
  return fileText(work_.file("server.log")) + fileText(work_.file("stderr.log"));
}

HttpTestServer::HttpTestServer(std::filesystem::path root)
    : root_(std::move(root)), work_("httpserver") {
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kPython, supportScript("http_server.py"), "--root", root_.string(),
                               "--record", work_.file("requests.txt")},
      work_.file("stderr.log"));
}

std::vector<std::string> HttpTestServer::requests() const {
  std::vector<std::string> lines;
  std::istringstream in(fileText(work_.file("requests.txt")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int bindLoopback(int& port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      (backlog >= 0 && ::listen(fd, backlog) != 0)) {
    ::close(fd);
    throw std::runtime_error("cannot listen on loopback");
  }
  socklen_t len = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
  port = ntohs(address.sin_port);
  return fd;
}

int connectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

int refusedLoopbackPort() {
  int port = 0;
  ::close(bindLoopback(port, -1));
  return port;
}

int acceptLoopback(int listener) {
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

long sendLoopback(int fd, const void* data, size_t count) {
  return static_cast<long>(::send(fd, data, count, MSG_NOSIGNAL));
}

long receiveLoopback(int fd, void* buffer, size_t count) {
  return static_cast<long>(::recv(fd, buffer, count, 0));
}

bool waitLoopbackReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}

void closeLoopback(int fd, bool reset) {
  if (fd < 0) return;
  if (reset) {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(fd);
}

UnansweredListener::UnansweredListener() {
  listener_ = bindLoopback(port_, 0);
  // With a backlog of 0 one pending connection fills the queue; later SYNs are dropped.
  filler_ = connectLoopback(port_);
  if (filler_ < 0) throw std::runtime_error("cannot fill the listen queue");
}

UnansweredListener::~UnansweredListener() {
  ::close(filler_);
  ::close(listener_);
}

}  // namespace dovra::test
