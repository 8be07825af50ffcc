// Runs build/backupdovra (backupdovra.exe on Windows) --headless as a real process: feeds its
// standard input, collects its JSON event lines, waits for events and for its exit. For
// program-level tests, with the installation folders they run in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dovra::test {

class ProgramProcess {
 public:
  // Starts the program with the given extra environment (name -> value): the build's, or
  // the copy at `program` when that is not empty.
  explicit ProgramProcess(const std::map<std::string, std::string>& env,
                          std::vector<std::string> args = {"--headless"},
                          const std::string& program = "");
  ~ProgramProcess();  // kills the process if it still runs

  void send(const std::string& line);
  // Waits until an event line containing every fragment appears (after `from`); returns its
  // index, or -1 on time-out.
  int waitFor(const std::vector<std::string>& fragments,
              std::chrono::milliseconds timeout = std::chrono::seconds(20), int from = 0);
  // Waits for the process to end and for its output to be read to the end (within the
  // same time-out); returns its exit status, or -1 when the process did not end in time.
  int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void signal(int sig);
  bool running();
  std::vector<std::string> lines();
  std::string allOutput();

 private:
  void readLoop();
  // What each system does for it (program_process_posix.cpp, program_process_windows.cpp):
  // starts `program` with its pipes, reads what it printed (0 at the end of the output),
  // writes its input, sees whether it ended (and with what status), ends it at once, and
  // closes its input, then the rest of what it held.
  void start(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env);
  long readOutput(char* buffer, size_t size);
  bool writeInput(const std::string& data);
  bool ended(int& status);
  void kill();
  void closeInput();
  void release();
  static const char* const kProgram;  // the build's program, in the build folder
  static const bool kCrLfLines;       // whether its output ends lines with CR LF
#ifdef _WIN32
  void* process_ = nullptr;  // the process's HANDLE and its pipes' ends
  void* in_ = nullptr;
  void* out_ = nullptr;
#else
  int pid_ = -1;
  int in_ = -1, out_ = -1;
#endif
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool exited_ = false;
  bool outputEnded_ = false;  // the reader has seen the end of the output
  int status_ = -1;
};

struct ProcessResult {
  int status = -1;  // exit status, or -1 when killed
  std::string out;
  std::string err;
};

// Runs a program to its end with its standard output and error captured.
ProcessResult runProcess(const std::vector<std::string>& argv);

// An installation for one program run: under `root`, a program folder whose identifier
// file names `id` and an empty settings folder. Installations made side by side under one
// folder share the scope of the single-instance guards (DOVRA_INSTANCE_SCOPE).
struct Installation {
  Installation(const std::filesystem::path& root, const std::string& id);
  // The environment that points the program at it.
  std::map<std::string, std::string> env() const;
  // Settings whose main location has no folder separator: the start sequence stops there
  // and the program stays in the tray, waiting.
  void writeStoppingSettings() const;

  std::filesystem::path root;
  std::string settings;  // the settings file
};

// Scrambles a text the way the identifier and the credentials are stored (the inverse of
// unscrambling), as raw bytes.
std::string scramble(const std::string& bytes);

}  // namespace dovra::test
