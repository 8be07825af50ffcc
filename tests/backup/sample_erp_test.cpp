// The sample ERP maker: identifier and settings files, size, and the program's command line.
#include <gtest/gtest.h>

#include "core/cripto.h"
#include "fixtures/sample_erp.h"
#include "platform/error.h"
#include "platform/text_codec.h"
#include "support/firebird_env.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

// Runs dovra-sample-erp; its standard output and error together.
test::ProcessResult runMaker(std::vector<std::string> args) {
  args.insert(args.begin(), std::string(DOVRA_BINARY_DIR) + "/dovra-sample-erp");
  test::ProcessResult run = test::runProcess(args);
  run.out += run.err;
  return run;
}

// What the files hold is read back by the program's own start-up tests; here what the
// maker refuses to write, and the format an INI reader of the ERP's side relies on.
TEST(SampleErpFiles, WindowsFilesWithCrlfAndNothingTheReaderWouldMisread) {
  test::TempDir dir("files");
  test::writeIdentifierFile(dir.file("application.dvk"), "Loja São João");
  const std::string id = test::readFile(dir.file("application.dvk"));
  EXPECT_EQ(id.substr(id.size() - 2), "\r\n");
  EXPECT_EQ(cp1252ToUtf8(cripto(id.substr(0, id.size() - 2), 1)), "Loja São João");
  // A space at position 13 shifts to a line feed: such an identifier cannot be written.
  EXPECT_THROW(test::writeIdentifierFile(dir.file("bad.dvk"), "ABCDEFGHIJKL MN"), Exception);
  // The command line writes the same file, and refuses what it does not know.
  const test::ProcessResult made =
      runMaker({"identifier", "--out", dir.file("cli.dvk"), "--id", "Loja São João"});
  EXPECT_EQ(made.status, 0) << made.out;
  EXPECT_EQ(test::readFile(dir.file("cli.dvk")), id);
  const test::ProcessResult unknown = runMaker({"database", "--dir", "/tmp", "--frobnicate"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.out.find("unknown argument '--frobnicate'"), std::string::npos);

  test::SampleSettings s;
  s.database = "servidor:C:\\Dovra\\Dados\\ERP.fdb";
  s.user = "SYSDBA";
  s.password = "ção123";
  s.backup = {{"localremoto", "R"}, {"tempo1", "09:30"}};
  test::writeSettingsFile(dir.file("LOJA.dvk"), s);
  const std::string bytes = test::readFile(dir.file("LOJA.dvk"));
  // Every line ends with CRLF, and there is no bare LF; Windows-1252 on disk.
  size_t lines = 0;
  for (size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1), ++lines) {
    ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "line " << lines;
  }
  EXPECT_GT(lines, 15u);
  EXPECT_NE(bytes.find("; Configura\xE7\xE3o"), std::string::npos);
  EXPECT_NE(bytes.find("senha=" + cripto("\xE7\xE3o123", 0) + "\r\n"), std::string::npos);
  s.backupSection = false;
  test::writeSettingsFile(dir.file("NOBACKUP.dvk"), s);
  EXPECT_EQ(test::readFile(dir.file("NOBACKUP.dvk")).find("[backup]"), std::string::npos);
  // A password whose scrambled form begins with a blank would be cut by an INI reader.
  s.password = std::string(1, static_cast<char>(' ' + 10)) + "abc";
  EXPECT_THROW(test::writeSettingsFile(dir.file("BAD.dvk"), s), Exception);
  EXPECT_FALSE(std::filesystem::exists(dir.file("BAD.dvk")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("bad.dvk")));
}

class SampleErpDatabases : public test::FirebirdTest {};

TEST_F(SampleErpDatabases, GrowsToTheRequestedSizeAndNeverOverwrites) {
  test::DbTempDir dir(env.dbDir, "sized");
  const std::vector<std::string> args = {"database", "--dir",      dir.path().string(),
                                         "--name",   "LOJA",       "--user",
                                         env.user,   "--password", env.password};
  std::vector<std::string> sized = args;
  sized.insert(sized.end(), {"--size-mb", "12", "--unsent-nfe", "3", "--sent-nfe", "0"});
  const test::ProcessResult made = runMaker(sized);
  ASSERT_EQ(made.status, 0) << made.out;
  EXPECT_NE(made.out.find("main=localhost:" + dir.file("LOJA.fdb") + "\n"), std::string::npos);
  EXPECT_NE(made.out.find("nfe=localhost:" + dir.file("LOJA_NFE.fdb") + "\n"), std::string::npos);
  EXPECT_GE(std::filesystem::file_size(dir.file("LOJA.fdb")), 12u * 1024 * 1024);
  EXPECT_LT(std::filesystem::file_size(dir.file("LOJA.fdb")), 20u * 1024 * 1024);

  const auto size = std::filesystem::file_size(dir.file("LOJA.fdb"));
  const test::ProcessResult again = runMaker(args);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("Refusing to overwrite"), std::string::npos) << again.out;
  EXPECT_EQ(std::filesystem::file_size(dir.file("LOJA.fdb")), size);
}

}  // namespace
}  // namespace dovra
