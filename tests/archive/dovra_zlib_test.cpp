// dovra-zlib driven as a separate process, as operators and scripts use it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "archive/archive_reader.h"
#include "archive_test_util.h"

namespace dovra {
namespace {

using test::namesIn;
using test::pattern;
using test::ProcessResult;
using test::readFile;
using test::repetitiveBytes;
using test::runProcess;
using test::TempDir;
using test::writeFile;

const std::string kTool = std::string(DOVRA_BINARY_DIR) + "/dovra-zlib";

ProcessResult tool(std::vector<std::string> args) {
  args.insert(args.begin(), kTool);
  return runProcess(args);
}

// Starts the tool without waiting for it; returns its process id.
pid_t startTool(std::vector<std::string> args) {
  args.insert(args.begin(), kTool);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, kTool.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// The name in `folder` that starts with `prefix`, once one appears; empty after 20 s.
std::string waitForName(const std::filesystem::path& folder, const std::string& prefix) {
  for (int i = 0; i < 20000; ++i) {
    for (const std::string& name : namesIn(folder)) {
      if (name.rfind(prefix, 0) == 0) return name;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {};
}

int reap(pid_t pid) {
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return status;
}

class DovraZlib : public ::testing::Test {
 protected:
  TempDir dir{"dovra-cli"};
};

TEST_F(DovraZlib, PackListVerifyAndUnpackIntoTheArchivesFolderOrAGivenOne) {
  const std::string a = repetitiveBytes(300000, 1), b = pattern(100, 2);
  std::filesystem::create_directory(dir.path() / "src");
  writeFile(dir.path() / "src" / "DADOS.fbk", a);
  writeFile(dir.path() / "src" / "NFE.fbk", b);
  const std::string archivePath = dir.file("DADOS.zlib");

  ProcessResult r = tool({"pack", archivePath, dir.file("src/DADOS.fbk"), dir.file("src/NFE.fbk")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress when standard error is not a terminal

  const auto entries = listArchive(archivePath);
  ASSERT_EQ(entries.size(), 2u);
  r = tool({"list", archivePath});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "DADOS.fbk\t300000\t" + std::to_string(entries[0].compressedSize) +
                       "\nNFE.fbk\t100\t" + std::to_string(entries[1].compressedSize) + "\n");

  r = tool({"verify", archivePath});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2 entries OK\n");

  r = tool({"unpack", archivePath});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir.path() / "DADOS.fbk"), a);
  EXPECT_EQ(readFile(dir.path() / "NFE.fbk"), b);

  std::filesystem::create_directory(dir.path() / "dest");
  r = tool({"unpack", archivePath, dir.file("dest")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(namesIn(dir.path() / "dest"), (std::vector<std::string>{"DADOS.fbk", "NFE.fbk"}));
}

TEST_F(DovraZlib, FailuresPrintOneLineOnStandardErrorAndExitOne) {
  writeFile(dir.path() / "x.fbk", pattern(5000, 3));
  const std::string archivePath = dir.file("x.zlib");
  ASSERT_EQ(tool({"pack", archivePath, dir.file("x.fbk")}).status, 0);
  const std::string whole = readFile(archivePath);
  writeFile(archivePath, whole.substr(0, whole.size() - 10));

  for (const char* command : {"verify", "list", "unpack"}) {
    const ProcessResult r = tool({command, archivePath});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err, "Stream read error\n") << command;
    EXPECT_EQ(r.out, "") << command;
  }

  const std::string missing = dir.file("missing.fbk");
  const ProcessResult r = tool({"pack", dir.file("new.zlib"), missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot open file \"" + missing + "\". No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("new.zlib")));
}

TEST_F(DovraZlib, APackingKilledMidwayLeavesATemporaryThatTheNextPackingRemoves) {
  // 512 MiB of zeros, sparse on disk: a second or so of compressing, a tiny archive.
  const std::string big = dir.file("DADOS.fbk");
  writeFile(big, "");
  ASSERT_EQ(::truncate(big.c_str(), int64_t{1} << 29), 0);
  writeFile(dir.path() / "small.fbk", "PARGERAL;1;");
  const std::string archivePath = dir.file("DADOS.zlib");
  writeFile(archivePath, "previous archive");

  // Killed while it packs: its temporary stays behind, the old archive is intact.
  const pid_t killed = startTool({"pack", archivePath, big});
  const std::string stale = waitForName(dir.path(), "DADOS.zlib.tmp-" + std::to_string(killed));
  ASSERT_FALSE(stale.empty());
  ASSERT_EQ(::kill(killed, SIGKILL), 0);
  EXPECT_TRUE(WIFSIGNALED(reap(killed)));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / stale));
  EXPECT_EQ(readFile(archivePath), "previous archive");

  // Another packing into the same folder, alive but stopped in the middle of its work.
  const std::string otherArchive = dir.file("OUTRO20261208.zlib");
  const pid_t live = startTool({"pack", otherArchive, big});
  const std::string running = waitForName(dir.path(), "OUTRO20261208.zlib.tmp-");
  ASSERT_FALSE(running.empty());
  ASSERT_EQ(::kill(live, SIGSTOP), 0);

  // The next packing removes the dead process's temporary and only that.
  ProcessResult r = tool({"pack", archivePath, dir.file("small.fbk")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / stale));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / running));
  EXPECT_EQ(listArchive(archivePath).size(), 1u);

  // The stopped packing goes on and completes its archive.
  ASSERT_EQ(::kill(live, SIGCONT), 0);
  const int status = reap(live);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const auto entries = listArchive(otherArchive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size, int64_t{1} << 29);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"DADOS.fbk", "DADOS.zlib",
                                                           "OUTRO20261208.zlib", "small.fbk"}));
}

TEST_F(DovraZlib, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"pack", dir.file("a.zlib")},
      {"list", "a", "b"},
      {"unpack", "a", "b", "c"},
      {"explode", "a.zlib"},
  };
  for (const auto& args : bad) {
    const ProcessResult r = tool(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_NE(r.err.find("usage: dovra-zlib"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.zlib")));
}

}  // namespace
}  // namespace dovra
