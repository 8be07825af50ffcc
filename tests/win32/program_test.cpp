// The Windows program as a process: started plainly it talks to the operator through the
// system's own message boxes and writes nothing on its standard output; with --headless the
// same start sequence reaches the console front end's events and opens no window. Without a
// settings file both end with status 1 after the same complaint.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "win32/wide_text.h"

namespace dovra {
namespace {

// The complaint as a message box shows it, and as the console's event carries it.
const wchar_t kMissingSettingsBox[] =
    L"O arquivo de configuração .ini não foi encontrado!\r\nEsta aplicação será encerrada!!";
const char kMissingSettingsEvent[] =
    "\"text\":\"O arquivo de configuração .ini não foi encontrado!\\rEsta aplicação será "
    "encerrada!!\"";

// The program built beside this test, as the Windows side sees the build folder.
std::wstring programPath() {
  std::wstring path = L"Z:" + std::filesystem::path(DOVRA_PROGRAM_EXE).wstring();
  for (wchar_t& ch : path) {
    if (ch == L'/') ch = L'\\';
  }
  return path;
}

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring className(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

struct Box {
  std::wstring caption;
  std::wstring text;
};

struct ProgramRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string out;         // everything the program wrote on its standard output
  std::vector<Box> boxes;  // the message boxes it showed, each answered with its default
};

// Runs the program with `arguments` and no input, answering every message box it opens.
ProgramRun runProgram(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readOut = nullptr, writeOut = nullptr;
  EXPECT_TRUE(CreatePipe(&readOut, &writeOut, &inherit, 0));
  SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
  const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = in;
  start.hStdOutput = writeOut;
  start.hStdError = writeOut;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + programPath() + L"\" " + arguments;
  ProgramRun run;
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &start, &process);
  CloseHandle(writeOut);
  CloseHandle(in);
  EXPECT_TRUE(started) << "cannot start " << utf8(programPath());
  if (!started) {
    CloseHandle(readOut);
    return run;
  }

  std::thread reader([&] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readOut, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      run.out.append(buffer, got);
    }
  });

  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{process.dwProcessId, {}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the program did not end";
      TerminateProcess(process.hProcess, 99);
      break;
    }
    search.found.clear();
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD pid = 0;
          GetWindowThreadProcessId(hwnd, &pid);
          if (pid == s->pid && IsWindowVisible(hwnd) && className(hwnd) == L"#32770") {
            s->found.push_back(hwnd);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    for (HWND box : search.found) {
      // A message box holds its text in the static control 0xFFFF.
      const HWND text = GetDlgItem(box, 0xFFFF);
      run.boxes.push_back({windowText(box), text ? windowText(text) : std::wstring()});
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    if (!search.found.empty()) Sleep(300);  // let the answered box go away
  }
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  reader.join();
  CloseHandle(readOut);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

class Win32ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::filesystem::path(temp) / "dovra programa sem configuração";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::wstring dir = folder.wstring() + L"\\";
    SetEnvironmentVariableW(L"DOVRA_WINDOWS_DIR", dir.c_str());
    SetEnvironmentVariableW(L"DOVRA_PROGRAM_DIR", dir.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"DOVRA_WINDOWS_DIR", nullptr);
    SetEnvironmentVariableW(L"DOVRA_PROGRAM_DIR", nullptr);
    std::filesystem::remove_all(folder);
  }
  std::filesystem::path folder;
};

TEST_F(Win32ProgramTest, PlainStartUsesTheDesktopAndHeadlessTheConsole) {
  const ProgramRun desktop = runProgram(L"");
  EXPECT_EQ(desktop.exitCode, 1u);
  ASSERT_FALSE(desktop.boxes.empty());
  EXPECT_EQ(desktop.boxes.back().text, kMissingSettingsBox);
  EXPECT_EQ(desktop.out.find("\"event\""), std::string::npos) << desktop.out;

  const ProgramRun console = runProgram(L"--headless");
  EXPECT_EQ(console.exitCode, 1u);
  EXPECT_TRUE(console.boxes.empty());
  EXPECT_NE(console.out.find(kMissingSettingsEvent), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("{\"event\":\"exit\",\"code\":1}"), std::string::npos) << console.out;
}

}  // namespace
}  // namespace dovra
