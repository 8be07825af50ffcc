// Runs build/backupdovra --headless as a real process: feeds its standard input, collects
// its JSON event lines, waits for events and for its exit. For program-level tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dovra::test {

class ProgramProcess {
 public:
  // Starts the program with the given extra environment (name -> value).
  explicit ProgramProcess(const std::map<std::string, std::string>& env,
                          std::vector<std::string> args = {"--headless"});
  ~ProgramProcess();  // kills the process if it still runs

  void send(const std::string& line);
  // Waits until an event line containing every fragment appears (after `from`); returns its
  // index, or -1 on time-out.
  int waitFor(const std::vector<std::string>& fragments,
              std::chrono::milliseconds timeout = std::chrono::seconds(20), int from = 0);
  // Waits for the process to end; returns its exit status, or -1 on time-out.
  int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void signal(int sig);
  bool running();
  std::vector<std::string> lines();
  std::string allOutput();
  int pid() const { return pid_; }

  static std::string programPath();

 private:
  void readLoop();
  int pid_ = -1;
  int in_ = -1, out_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool exited_ = false;
  int status_ = -1;
};

// Scrambles a text the way the identifier and the credentials are stored (the inverse of
// unscrambling), as raw bytes.
std::string scramble(const std::string& bytes);

}  // namespace dovra::test
