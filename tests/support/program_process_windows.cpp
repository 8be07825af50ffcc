// The program run as a Windows process: CreateProcess with pipes for its standard input
// and output. Under Wine the build folder is a host path ("/work/..."), reached through the
// drive Wine maps to the host's root (Z:).
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "platform/windows_support.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra::test {
namespace {

using win::widen;

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

PROCESS_INFORMATION launch(const std::vector<std::string>& argv, const std::wstring* environment,
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

const char* const ProgramProcess::kProgram = "backupdovra.exe";
// The C runtime's text mode ends the program's lines with CR LF.
const bool ProgramProcess::kCrLfLines = true;

ProcessResult runProcess(const std::vector<std::string>& argv) {
  TempDir capture("dovra-proc");
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  HANDLE in = openForChild("NUL", false);
  HANDLE out = openForChild(outPath, true);
  HANDLE err = openForChild(errPath, true);
  PROCESS_INFORMATION info{};
  try {
    info = launch(argv, nullptr, in, out, err);
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

void ProgramProcess::start(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
  HANDLE childIn = nullptr, childOut = nullptr, parentIn = nullptr, parentOut = nullptr;
  if (!CreatePipe(&childIn, &parentIn, nullptr, 0) ||
      !CreatePipe(&parentOut, &childOut, nullptr, 0)) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::wstring environment = environmentBlock(env);
  PROCESS_INFORMATION info = launch(argv, &environment, inheritable(childIn), inheritable(childOut),
                                    GetStdHandle(STD_ERROR_HANDLE));
  CloseHandle(childIn);
  CloseHandle(childOut);
  process_ = info.hProcess;
  in_ = parentIn;
  out_ = parentOut;
}

long ProgramProcess::readOutput(char* buffer, size_t size) {
  DWORD n = 0;
  if (!ReadFile(out_, buffer, static_cast<DWORD>(size), &n, nullptr)) return -1;
  return static_cast<long>(n);
}

bool ProgramProcess::writeInput(const std::string& data) {
  DWORD written = 0;
  return WriteFile(in_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

bool ProgramProcess::ended(int& status) {
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
  status = exitCodeOf(process_);
  return true;
}

void ProgramProcess::kill() {
  TerminateProcess(process_, 137);
}

// Windows has no signals to send another process: the program ends as a kill would end
// it, with 128 + the signal's number.
void ProgramProcess::signal(int sig) {
  TerminateProcess(process_, static_cast<UINT>(128 + sig));
}

void ProgramProcess::closeInput() {
  if (in_) CloseHandle(in_);
  in_ = nullptr;
}

void ProgramProcess::release() {
  if (out_) CloseHandle(out_);
  out_ = nullptr;
  CloseHandle(process_);
}

}  // namespace dovra::test
