// The test servers, the part every system shares: their arguments, the wait for the port a
// server writes into a file once it listens, its log and records, and the loopback helpers
// built on each system's sockets. Starting and stopping a server and the sockets themselves
// are each system's (test_servers_posix.cpp, test_servers_windows.cpp).
#include "support/test_servers.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace dovra::test {
namespace {

using Clock = std::chrono::steady_clock;

const char* kPython = "/usr/bin/python3";

std::string supportScript(const char* name) {
  return std::string(DOVRA_SOURCE_DIR) + "/tests/support/" + name;
}

std::string fileText(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool accepts(int port) {
  const int fd = connectLoopback(port);
  closeLoopback(fd);
  return fd >= 0;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, const std::string& logPath) {
  // The port file beside the log.
  const std::string portFile = utf8Name(std::filesystem::u8path(logPath).parent_path() / "port");
  launch(argv, logPath, portFile);

  // "PORT <n>" within ten seconds.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    const std::string text = fileText(portFile);
    if (text.rfind("PORT ", 0) == 0 && text.find('\n') != std::string::npos) {
      port_ = std::atoi(text.c_str() + 5);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
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

FtpTestServer::FtpTestServer(std::filesystem::path root, bool knowsSize)
    : root_(std::move(root)), work_("ftpserver") {
  std::vector<std::string> argv{kPython,      supportScript("ftp_server.py"),
                                "--root",     hostPath(utf8Name(root_)),
                                "--user",     kFtpUser,
                                "--password", kFtpPassword,
                                "--log",      hostPath(work_.file("server.log"))};
  if (!knowsSize) argv.push_back("--no-size");
  process_ = std::make_unique<ServerProcess>(argv, work_.file("stderr.log"));
}

std::string FtpTestServer::log() const {
  return fileText(work_.file("server.log")) + fileText(work_.file("stderr.log"));
}

CuttingFtpProxy::CuttingFtpProxy(int upstreamPort, size_t limit) : work_("ftpproxy") {
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kPython, supportScript("cutting_ftp_proxy.py"), "--upstream",
                               std::to_string(upstreamPort), "--limit", std::to_string(limit)},
      work_.file("stderr.log"));
}

HttpTestServer::HttpTestServer(std::filesystem::path root)
    : root_(std::move(root)), work_("httpserver") {
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kPython, supportScript("http_server.py"), "--root",
                               hostPath(utf8Name(root_)), "--record",
                               hostPath(work_.file("requests.txt"))},
      work_.file("stderr.log"));
}

std::vector<std::string> HttpTestServer::requests() const {
  std::vector<std::string> lines;
  std::istringstream in(fileText(work_.file("requests.txt")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int refusedLoopbackPort() {
  int port = 0;
  closeLoopback(bindLoopback(port, -1));
  return port;
}

UnansweredListener::UnansweredListener() {
  listener_ = bindLoopback(port_, 0);
  // With a backlog of 0 one pending connection fills the queue; later attempts get no
  // answer (their SYNs are dropped).
  filler_ = connectLoopback(port_);
  if (filler_ < 0) throw std::runtime_error("cannot fill the listen queue");
}

UnansweredListener::~UnansweredListener() {
  closeLoopback(filler_);
  closeLoopback(listener_);
}

}  // namespace dovra::test
