// The program as a POSIX process: fork and exec with pipes for its standard input and
// output, signals to end it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "support/program_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace dovra::test {

const char* const ProgramProcess::kProgram = "backupdovra";
const bool ProgramProcess::kCrLfLines = false;

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

void ProgramProcess::start(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // This environment with `env` set and no display: the program is headless.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    const std::string name = kv.substr(0, kv.find('='));
    if (!env.count(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY")
      envStrings.push_back(kv);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<std::string> argStrings = args;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    // Undo the test's signal mask so the program sees signals as it would normally.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
}

long ProgramProcess::readOutput(char* buffer, size_t size) {
  return static_cast<long>(read(out_, buffer, size));
}

bool ProgramProcess::writeInput(const std::string& data) {
  return write(in_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

bool ProgramProcess::ended(int& status) {
  int raw;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return true;
}

void ProgramProcess::kill() {
  ::kill(pid_, SIGKILL);
}

void ProgramProcess::signal(int sig) {
  ::kill(pid_, sig);
}

void ProgramProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ProgramProcess::release() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

}  // namespace dovra::test
