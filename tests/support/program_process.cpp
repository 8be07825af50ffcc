// The program as a process, the part every system shares: the installation it runs in, its
// output read into lines, and the waits on them. Starting, pipes and ending it are each
// system's (program_process_posix.cpp, program_process_windows.cpp).
#include "support/program_process.h"

#include <stdexcept>

#include "core/cripto.h"
#include "support/temp_dir.h"

namespace dovra::test {
std::string scramble(const std::string& bytes) {
  return cripto(bytes, 0);
}

Installation::Installation(const std::filesystem::path& root, const std::string& id)
    : root(root), settings(utf8Name(root / "windows" / std::filesystem::u8path(id + ".dvk"))) {
  std::filesystem::create_directories(root / "program" / "CONFIGURACAO");
  std::filesystem::create_directories(root / "windows");
  writeFile(root / "program" / "CONFIGURACAO" / "application.dvk", scramble(id) + "\r\n");
}

std::map<std::string, std::string> Installation::env() const {
  // XDG_RUNTIME_DIR: the runtime folder on Linux, which the guards must not depend on.
  return {{"DOVRA_PROGRAM_DIR", utf8Name(root / "program")},
          {"DOVRA_WINDOWS_DIR", utf8Name(root / "windows")},
          {"XDG_RUNTIME_DIR", utf8Name(root.parent_path())},
          {"DOVRA_INSTANCE_SCOPE", utf8Name(root.parent_path())}};
}

void Installation::writeStoppingSettings() const {
  writeFile(std::filesystem::u8path(settings),
            "[conexao]\r\nendereco=erp.fdb\r\n[backup]\r\nlocalremoto=L\r\n");
}

ProgramProcess::ProgramProcess(const std::map<std::string, std::string>& env,
                               std::vector<std::string> args, const std::string& program) {
  start(program.empty() ? std::string(DOVRA_BINARY_DIR) + "/" + kProgram : program, args, env);
  reader_ = std::thread([this] { readLoop(); });
}

ProgramProcess::~ProgramProcess() {
  if (running()) kill();
  waitExit(std::chrono::seconds(5));
  closeInput();
  if (reader_.joinable()) reader_.join();
  release();
}

void ProgramProcess::readLoop() {
  std::string pending;
  char buf[4096];
  for (;;) {
    const long n = readOutput(buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::lock_guard lock(mutex_);
      std::string line = pending.substr(0, nl);
      if (kCrLfLines && !line.empty() && line.back() == '\r') line.pop_back();
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
  if (!writeInput(line + "\n")) throw std::runtime_error("cannot write to the program");
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
  if (ended(status_)) {
    exited_ = true;
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
