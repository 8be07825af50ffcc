// The program run as a Windows process: CreateProcess with pipes for its standard input
// and output. Under Wine the build folder is a host path ("/work/..."), reached through the
// drive Wine maps to the host's root (Z:).
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "core/cripto.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra::test {
namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// A host path ("/work/...") as the Windows side names it; other paths as they are.
std::string windowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (auto& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// One argument quoted as the C runtime splits a command line.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring commandLine(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const auto& a : argv) {
    if (!line.empty()) line += L' ';
    line += quoted(widen(a));
  }
  return line;
}

// This process's environment with `overrides` set, as CreateProcessW takes it.
std::wstring environmentBlock(const std::map<std::string, std::string>& overrides) {
  std::map<std::wstring, std::wstring> vars;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) {
    const std::wstring kv = p;
    const size_t eq = kv.find(L'=', 1);  // "=C:=C:\..." entries start with '='
    if (eq == std::wstring::npos) continue;
    vars[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [k, v] : overrides) vars[widen(k)] = widen(v);
  std::wstring out;
  for (const auto& [k, v] : vars) out += k + L"=" + v + L'\0';
  return out + L'\0';
}

HANDLE inheritable(HANDLE h) {
  SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return h;
}

HANDLE openForChild(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(widen(windowsPath(path)).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

PROCESS_INFORMATION start(const std::vector<std::string>& argv, const std::wstring* environment,
                          HANDLE in, HANDLE out, HANDLE err) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring line = commandLine(argv);
  PROCESS_INFORMATION info{};
  const std::wstring program = widen(windowsPath(argv[0]));
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT,
                      environment ? const_cast<wchar_t*>(environment->c_str()) : nullptr, nullptr,
                      &startup, &info)) {
    throw std::runtime_error("cannot start " + argv[0] + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
  CloseHandle(info.hThread);
  return info;
}

int exitCodeOf(HANDLE process) {
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return static_cast<int>(code);
}

}  // namespace

std::string scramble(const std::string& bytes) {
  return cripto(bytes, 0);
}

ProcessResult runProcess(const std::vector<std::string>& argv) {
  TempDir capture("dovra-proc");
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  HANDLE in = openForChild("NUL", false);
  HANDLE out = openForChild(outPath, true);
  HANDLE err = openForChild(errPath, true);
  PROCESS_INFORMATION info{};
  try {
    info = start(argv, nullptr, in, out, err);
  } catch (...) {
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    throw;
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  WaitForSingleObject(info.hProcess, INFINITE);
  const int status = exitCodeOf(info.hProcess);
  CloseHandle(info.hProcess);
  return {status, readFile(outPath), readFile(errPath)};
}

Installation::Installation(const std::filesystem::path& root, const std::string& id)
    : root(root), settings(narrow((root / "windows" / widen(id + ".dvk")).wstring())) {
  std::filesystem::create_directories(root / "program" / "CONFIGURACAO");
  std::filesystem::create_directories(root / "windows");
  writeFile(root / "program" / "CONFIGURACAO" / "application.dvk", scramble(id) + "\r\n");
}

std::map<std::string, std::string> Installation::env() const {
  return {{"DOVRA_PROGRAM_DIR", narrow((root / "program").wstring())},
          {"DOVRA_WINDOWS_DIR", narrow((root / "windows").wstring())},
          {"DOVRA_INSTANCE_SCOPE", narrow(root.parent_path().wstring())}};
}

void Installation::writeStoppingSettings() const {
  writeFile(std::filesystem::path(widen(settings)),
            "[conexao]\r\nendereco=erp.fdb\r\n[backup]\r\nlocalremoto=L\r\n");
}

ProgramProcess::ProgramProcess(const std::map<std::string, std::string>& env,
                               std::vector<std::string> args, const std::string& program) {
  HANDLE childIn = nullptr, childOut = nullptr, parentIn = nullptr, parentOut = nullptr;
  if (!CreatePipe(&childIn, &parentIn, nullptr, 0) ||
      !CreatePipe(&parentOut, &childOut, nullptr, 0)) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv{program.empty() ? std::string(DOVRA_BINARY_DIR) + "/backupdovra.exe"
                                                : program};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::wstring environment = environmentBlock(env);
  PROCESS_INFORMATION info = start(argv, &environment, inheritable(childIn), inheritable(childOut),
                                   GetStdHandle(STD_ERROR_HANDLE));
  CloseHandle(childIn);
  CloseHandle(childOut);
  process_ = info.hProcess;
  in_ = parentIn;
  out_ = parentOut;
  reader_ = std::thread([this] { readLoop(); });
}

ProgramProcess::~ProgramProcess() {
  if (running()) TerminateProcess(process_, 137);
  waitExit(std::chrono::seconds(5));
  if (in_) CloseHandle(in_);
  if (reader_.joinable()) reader_.join();
  if (out_) CloseHandle(out_);
  CloseHandle(process_);
}

void ProgramProcess::readLoop() {
  std::string pending;
  char buf[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(out_, buf, sizeof buf, &n, nullptr) || n == 0) break;
    pending.append(buf, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::lock_guard lock(mutex_);
      std::string line = pending.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
      pending.erase(0, nl + 1);
      changed_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  if (!pending.empty()) lines_.push_back(pending);
  outputEnded_ = true;
  changed_.notify_all();
}

void ProgramProcess::send(const std::string& line) {
  const std::string data = line + "\n";
  DWORD written = 0;
  if (!WriteFile(in_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      written != data.size()) {
    throw std::runtime_error("cannot write to the program");
  }
}

int ProgramProcess::waitFor(const std::vector<std::string>& fragments,
                            std::chrono::milliseconds timeout, int from) {
  std::unique_lock lock(mutex_);
  int found = -1;
  changed_.wait_for(lock, timeout, [&] {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines_.size(); ++i) {
      bool all = true;
      for (const auto& f : fragments) all = all && lines_[i].find(f) != std::string::npos;
      if (all) {
        found = static_cast<int>(i);
        return true;
      }
    }
    return false;
  });
  return found;
}

bool ProgramProcess::running() {
  std::lock_guard lock(mutex_);
  if (exited_) return false;
  if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
    exited_ = true;
    status_ = exitCodeOf(process_);
    return false;
  }
  return true;
}

int ProgramProcess::waitExit(std::chrono::milliseconds timeout) {
  const auto limit = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() > limit) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The last lines may still be on their way to the reader.
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, limit, [this] { return outputEnded_; });
  return status_;
}

// Windows has no signals to send another process: the program ends as a kill would end
// it, with 128 + the signal's number.
void ProgramProcess::signal(int sig) {
  TerminateProcess(process_, static_cast<UINT>(128 + sig));
}

std::vector<std::string> ProgramProcess::lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string ProgramProcess::allOutput() {
  std::string out;
  for (const auto& l : lines()) out += l + "\n";
  return out;
}

}  // namespace dovra::test
