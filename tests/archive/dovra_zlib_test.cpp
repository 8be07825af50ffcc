// dovra-zlib driven as a separate process, as operators and scripts use it.
#include <gtest/gtest.h>

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
