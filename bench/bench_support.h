// Small helpers shared by the benchmark programs.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace dovra::bench {

// Runs a program (looked up in PATH) with its standard output sent to `output`; returns its
// exit status, or -1 when it could not be started or did not exit normally.
inline int runProcess(const std::vector<std::string>& args,
                      const std::string& output = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

inline std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a program to completion and returns its wall time; throws when it fails.
inline double timedRun(const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  if (runProcess(args) != 0) throw std::runtime_error(args.front() + " failed");
  return secondsSince(start);
}

// Writes `size` bytes of incompressible noise (xorshift64, always the same bytes).
inline void writeNoiseFile(const std::string& path, int64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> block(1 << 17);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t left = size; left > 0;) {
    for (auto& w : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      w = x;
    }
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
    out.write(reinterpret_cast<const char*>(block.data()), n);
    left -= n;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

// What the benchmarks on the sample ERP take: --size-mb N and --runs N, and the server's
// account from DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD. Without the account, says how to
// set it and ends the program with status 2.
struct SampleArgs {
  int sizeMb = 200;
  int runs = 3;
  std::string user, password;
};
inline SampleArgs sampleArgs(int argc, char** argv, const char* program) {
  SampleArgs a;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mb") == 0) a.sizeMb = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) a.runs = std::max(1, std::atoi(argv[i + 1]));
  }
  a.user = envOr("DOVRA_TEST_FB_USER", "");
  a.password = envOr("DOVRA_TEST_FB_PASSWORD", "");
  if (a.user.empty()) {
    std::cerr << program
              << ": set DOVRA_TEST_FB_USER and DOVRA_TEST_FB_PASSWORD "
                 "(source scripts/lib/firebird.sh and call start_firebird)\n";
    std::exit(2);
  }
  return a;
}

// The folder $DOVRA_TEST_DB_DIR/<name>-<N>mb (or under /var/tmp) holding the sample ERP of
// N MB that dovra-sample-erp makes there once, with `options`, and that is kept for later
// runs. Ends the program with status 1 when it cannot be made.
inline std::filesystem::path sampleErpFolder(const SampleArgs& a, const std::string& name,
                                             const std::vector<std::string>& options) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(envOr("DOVRA_TEST_DB_DIR", "/var/tmp")) /
                       (name + "-" + std::to_string(a.sizeMb) + "mb");
  const fs::path ready = dir / "ERP.ready";
  if (fs::exists(ready) && fs::exists(dir / "ERP.fdb")) return dir;
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  const fs::path maker =
      fs::canonical("/proc/self/exe").parent_path().parent_path() / "dovra-sample-erp";
  std::cout << "making a " << a.sizeMb << " MB sample ERP in " << dir << " ..." << std::endl;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> command = {
      maker.string(), "database", "--dir", dir.string(), "--size-mb", std::to_string(a.sizeMb),
      "--replace",    "--user",   a.user,  "--password", a.password};
  command.insert(command.end(), options.begin(), options.end());
  if (runProcess(command) != 0) {
    std::cerr << maker << " could not make the sample ERP\n";
    std::exit(1);
  }
  std::ofstream(ready) << a.sizeMb << "\n";
  std::cout << "made in " << secondsSince(start) << " s" << std::endl;
  return dir;
}

// This process's peak resident memory (VmHWM) in KiB, -1 when unknown.
inline long peakResidentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Starts a new peak measurement from the current resident size.
inline void resetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace dovra::bench
