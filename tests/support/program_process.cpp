#include "support/program_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "core/cripto.h"
#include "support/temp_dir.h"

extern char** environ;

namespace dovra::test {

std::string scramble(const std::string& bytes) {
  return cripto(bytes, 0);
}

ProcessResult runProcess(const std::vector<std::string>& argv) {
  TempDir capture("dovra-proc");
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outPath), readFile(errPath)};
}

Installation::Installation(const std::filesystem::path& root, const std::string& id)
    : root(root), settings((root / "windows" / (id + ".dvk")).string()) {
  std::filesystem::create_directories(root / "program" / "CONFIGURACAO");
  std::filesystem::create_directories(root / "windows");
  writeFile(root / "program" / "CONFIGURACAO" / "application.dvk", scramble(id) + "\r\n");
}

std::map<std::string, std::string> Installation::env() const {
  return {{"DOVRA_PROGRAM_DIR", (root / "program").string()},
          {"DOVRA_WINDOWS_DIR", (root / "windows").string()},
          {"XDG_RUNTIME_DIR", root.parent_path().string()},
          {"DOVRA_INSTANCE_SCOPE", root.parent_path().string()}};
}

void Installation::writeStoppingSettings() const {
  writeFile(settings, "[conexao]\r\nendereco=erp.fdb\r\n[backup]\r\nlocalremoto=L\r\n");
}

ProgramProcess::ProgramProcess(const std::map<std::string, std::string>& env,
                               std::vector<std::string> args, const std::string& program) {
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    const std::string name = kv.substr(0, kv.find('='));
    if (!env.count(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY")
      envStrings.push_back(kv);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  const std::string path =
      program.empty() ? std::string(DOVRA_BINARY_DIR) + "/backupdovra" : program;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    // Undo the test's signal mask so the program sees signals as it would normally.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  reader_ = std::thread([this] { readLoop(); });
}

ProgramProcess::~ProgramProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
  }
  waitExit(std::chrono::seconds(5));
  if (in_ >= 0) close(in_);
  if (reader_.joinable()) reader_.join();
  if (out_ >= 0) close(out_);
}

void ProgramProcess::readLoop() {
  std::string pending;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::lock_guard lock(mutex_);
      lines_.push_back(pending.substr(0, nl));
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
  if (write(in_, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
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
  int status;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

void ProgramProcess::signal(int sig) {
  kill(pid_, sig);
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
