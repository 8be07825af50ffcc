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
#include <stdexcept>
#include <thread>

#include "platform/windows_support.h"
#include "support/test_servers.h"

namespace dovra::test {
namespace {

using win::widen;

using Clock = std::chrono::steady_clock;

// A file's bytes, nothing when it is not there (yet).
std::string fileText(const std::string& path) {
  const auto p = std::filesystem::u8path(path);
  return std::filesystem::exists(p) ? readFile(p) : std::string();
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

// Starts a host program with the command line `line`, not waiting for it.
void startOnHost(std::wstring line) {
  // Its standard handles are NUL: started with none, it got this process's, and under Wine
  // a program under test that this process was reading then lost lines of its output
  // (the pipe's handle read as invalid once a host program had started).
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  const HANDLE none =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                  OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = none;
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(none);
  if (!started) {
    throw std::runtime_error("cannot start a host program (error " + std::to_string(error) + ")");
  }
  if (info.hThread) CloseHandle(info.hThread);
  if (info.hProcess) CloseHandle(info.hProcess);
}

}  // namespace

void ServerProcess::launch(std::vector<std::string> argv, const std::string& logPath,
                           const std::string& portFile) {
  // The file that stops it beside the log.
  stopFile_ = logPath.substr(0, logPath.find_last_of("\\/")) + "\\stop";
  argv.insert(argv.end(), {"--port-file", hostPath(portFile), "--stop-file", hostPath(stopFile_)});
  std::wstring line;
  for (const auto& a : argv) line += (line.empty() ? L"" : L" ") + quoted(a);
  try {
    startOnHost(line);
  } catch (...) {
    stopFile_.clear();
    throw;
  }
}

void ServerProcess::stop() {
  if (stopFile_.empty()) return;
  std::ofstream(std::filesystem::u8path(stopFile_)).put('\n');
  stopFile_.clear();
  // Gone once its port refuses connections.
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (port_ > 0 && Clock::now() < deadline) {
    const int fd = connectLoopback(port_);
    closeLoopback(fd);
    if (fd < 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

HostResult runOnHost(const std::string& script, std::chrono::seconds limit) {
  TempDir work("host-run");
  const std::string scriptFile = utf8Name(work.path() / "script.sh");
  std::ofstream(std::filesystem::u8path(scriptFile), std::ios::binary) << script << "\n";
  const std::string output = hostPath(utf8Name(work.path() / "output"));
  const std::string status = hostPath(utf8Name(work.path() / "status"));
  // The status file appears whole, once the script has ended.
  std::ofstream(std::filesystem::u8path(utf8Name(work.path() / "run.sh")), std::ios::binary)
      << "sh '" << hostPath(scriptFile) << "' >'" << output << "' 2>&1\n"
      << "echo $? >'" << status << ".part'\nmv '" << status << ".part' '" << status << "'\n";
  startOnHost(quoted("/bin/sh") + L" " + quoted(hostPath(utf8Name(work.path() / "run.sh"))));
  HostResult result;
  const auto deadline = Clock::now() + limit;
  const std::string statusFile = utf8Name(work.path() / "status");
  while (Clock::now() < deadline) {
    const std::string text = fileText(statusFile);
    if (!text.empty()) {
      result.status = std::atoi(text.c_str());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.output = fileText(utf8Name(work.path() / "output"));
  return result;
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

}  // namespace dovra::test
