// The test servers for the Windows test programs, which run under Wine: the same Python
// scripts, started as host programs. Wine gives a host program neither our pipes nor a
// process handle to wait on or end, so a server writes its port into a file and stops when
// a file appears; host paths are asked of Wine (the servers see the host's file names).
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/test_servers.h"

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

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string utf8(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace

// Wine matches names without regard to case, so only an existing path is asked for: the
// name of a file still to be made is appended to its folder's host name.
std::string hostPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  if (GetFileAttributesW(widen(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
    const size_t cut = path.find_last_of("\\/");
    if (cut != std::string::npos) return hostPath(path.substr(0, cut)) + "/" + path.substr(cut + 1);
  }
  using Lookup = char* (*)(const wchar_t*);
  static const auto lookup = reinterpret_cast<Lookup>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (lookup == nullptr) throw std::runtime_error("the test servers need Wine");
  char* unix = lookup(widen(path).c_str());
  if (unix == nullptr) throw std::runtime_error("no host path for " + path);
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

namespace {

// One argument as a host program's command line takes it.
std::wstring quoted(const std::string& arg) {
  std::wstring out = L"\"";
  for (const wchar_t c : widen(arg)) {
    if (c == L'"' || c == L'\\') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

void startWinsock() {
  static Winsock once;
}

bool accepts(int port) {
  const int fd = connectLoopback(port);
  if (fd >= 0) closesocket(static_cast<SOCKET>(fd));
  return fd >= 0;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, const std::string& logPath) {
  // Beside the log: the file the server writes its port into and the one that stops it.
  const std::string folder = logPath.substr(0, logPath.find_last_of("\\/"));
  const std::string portFile = folder + "\\port";
  stopFile_ = folder + "\\stop";
  std::wstring line;
  for (const auto& a : argv) line += (line.empty() ? L"" : L" ") + quoted(a);
  line += L" --port-file " + quoted(hostPath(portFile)) + L" --stop-file " +
          quoted(hostPath(stopFile_));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  if (info.hThread) CloseHandle(info.hThread);
  if (info.hProcess) CloseHandle(info.hProcess);

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
  startWinsock();
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
  if (stopFile_.empty()) return;
  std::ofstream(std::filesystem::u8path(stopFile_)).put('\n');
  stopFile_.clear();
  // Gone once its port refuses connections.
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (port_ > 0 && accepts(port_) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

HostResult runOnHost(const std::string& script, std::chrono::seconds limit) {
  TempDir work("host-run");
  const std::string scriptFile = utf8(work.path() / "script.sh");
  std::ofstream(std::filesystem::u8path(scriptFile), std::ios::binary) << script << "\n";
  const std::string output = hostPath(utf8(work.path() / "output"));
  const std::string status = hostPath(utf8(work.path() / "status"));
  // The status file appears whole, once the script has ended.
  std::ofstream(std::filesystem::u8path(utf8(work.path() / "run.sh")), std::ios::binary)
      << "sh '" << hostPath(scriptFile) << "' >'" << output << "' 2>&1\n"
      << "echo $? >'" << status << ".part'\nmv '" << status << ".part' '" << status << "'\n";
  std::wstring line = quoted("/bin/sh") + L" " + quoted(hostPath(utf8(work.path() / "run.sh")));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    throw std::runtime_error("cannot start /bin/sh on the host");
  }
  if (info.hThread) CloseHandle(info.hThread);
  if (info.hProcess) CloseHandle(info.hProcess);
  HostResult result;
  const auto deadline = Clock::now() + limit;
  const std::string statusFile = utf8(work.path() / "status");
  while (Clock::now() < deadline) {
    const std::string text = fileText(statusFile);
    if (!text.empty()) {
      result.status = std::atoi(text.c_str());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.output = fileText(utf8(work.path() / "output"));
  return result;
}

FtpTestServer::FtpTestServer(std::filesystem::path root, bool knowsSize)
    : root_(std::move(root)), work_("ftpserver") {
  std::vector<std::string> argv{kPython,      supportScript("ftp_server.py"),
                                "--root",     hostPath(utf8(root_)),
                                "--user",     kFtpUser,
                                "--password", kFtpPassword,
                                "--log",      hostPath(work_.file("server.log"))};
  if (!knowsSize) argv.push_back("--no-size");
  process_ = std::make_unique<ServerProcess>(argv, work_.file("stderr.log"));
}

std::string FtpTestServer::log() const {
  return fileText(work_.file("server.log")) + fileText(work_.file("stderr.log"));
}

HttpTestServer::HttpTestServer(std::filesystem::path root)
    : root_(std::move(root)), work_("httpserver") {
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kPython, supportScript("http_server.py"), "--root",
                               hostPath(utf8(root_)), "--record",
                               hostPath(work_.file("requests.txt"))},
      work_.file("stderr.log"));
}

std::vector<std::string> HttpTestServer::requests() const {
  std::vector<std::string> lines;
  std::istringstream in(fileText(work_.file("requests.txt")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int bindLoopback(int& port, int backlog) {
  startWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("cannot make a socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      (backlog >= 0 && listen(s, backlog) != 0)) {
    closesocket(s);
    throw std::runtime_error("cannot listen on loopback");
  }
  int len = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &len);
  port = ntohs(address.sin_port);
  return static_cast<int>(s);
}

int connectLoopback(int port) {
  startWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return static_cast<int>(s);
  }
  closesocket(s);
  return -1;
}

int refusedLoopbackPort() {
  int port = 0;
  closesocket(static_cast<SOCKET>(bindLoopback(port, -1)));
  return port;
}

int acceptLoopback(int listener) {
  const SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<int>(s);
}

long sendLoopback(int fd, const void* data, size_t count) {
  return send(static_cast<SOCKET>(fd), static_cast<const char*>(data), static_cast<int>(count), 0);
}

long receiveLoopback(int fd, void* buffer, size_t count) {
  return recv(static_cast<SOCKET>(fd), static_cast<char*>(buffer), static_cast<int>(count), 0);
}

bool waitLoopbackReadable(int fd, int timeoutMs) {
  WSAPOLLFD p{static_cast<SOCKET>(fd), POLLRDNORM, 0};
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

void closeLoopback(int fd, bool reset) {
  if (fd < 0) return;
  if (reset) {
    const linger hard{1, 0};
    setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
               sizeof hard);
  }
  closesocket(static_cast<SOCKET>(fd));
}

UnansweredListener::UnansweredListener() {
  listener_ = bindLoopback(port_, 0);
  // With a backlog of 0 one pending connection fills the queue; later attempts get no
  // answer.
  filler_ = connectLoopback(port_);
  if (filler_ < 0) throw std::runtime_error("cannot fill the listen queue");
}

UnansweredListener::~UnansweredListener() {
  closesocket(static_cast<SOCKET>(filler_));
  closesocket(static_cast<SOCKET>(listener_));
}

}  // namespace dovra::test
