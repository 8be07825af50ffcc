// The program's arguments: --help, --version, usage errors, and --setup writing an
// installation that the program then starts from.
#include <gtest/gtest.h>
#include <filesystem>

#include "support/firebird_env.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::ProcessResult;
using test::runProcess;
using test::TempDir;

const std::string kProgram = std::string(DOVRA_BINARY_DIR) + "/backupdovra";
const std::string kTool = std::string(DOVRA_BINARY_DIR) + "/dovra-zlib";

size_t lineCount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(CommandLine, HelpAndVersionOnBothBinaries) {
  for (const std::string& bin : {kProgram, kTool}) {
    const std::string name = std::filesystem::path(bin).filename().string();
    const ProcessResult v = runProcess({bin, "--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, name + " 13\n");
    EXPECT_EQ(v.err, "");
    const ProcessResult h = runProcess({bin, "--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("sage: " + name), std::string::npos) << h.out;
    EXPECT_EQ(h.err, "");
  }
  EXPECT_NE(runProcess({kProgram, "--help"}).out.find("--setup ID"), std::string::npos);
}

TEST(CommandLine, AnyOtherArgumentEndsWith64AndOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"extra"},
      {"--headless", "-platform", "xcb"},
      {"--database", "erp.fdb"},       // an installation option without --setup
      {"--setup"},                     // without the identifier
      {"--setup", "LOJA", "--times"},  // without a value
      {"--setup", "LOJA", "--times", "09:30"},
      {"--setup", "LOJA", "--headless"},
  };
  TempDir dir;
  for (const auto& args : bad) {
    std::vector<std::string> argv = {"/usr/bin/env", "DOVRA_PROGRAM_DIR=" + dir.file("p"),
                                     "DOVRA_WINDOWS_DIR=" + dir.file("w"), kProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = runProcess(argv);
    EXPECT_EQ(r.status, 64) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("backupdovra: ", 0), 0u) << r.err;
  }
  EXPECT_NE(runProcess({kProgram, "--bogus"}).err.find("unknown argument: --bogus"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "p"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "w"));
}

class Setup : public ::testing::Test {
 protected:
  ProcessResult setup(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/env", "DOVRA_PROGRAM_DIR=" + program().string(),
                                     "DOVRA_WINDOWS_DIR=" + windows().string(), kProgram,
                                     "--setup"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv);
  }
  std::filesystem::path program() const { return dir.path() / "program"; }
  std::filesystem::path windows() const { return dir.path() / "windows"; }
  std::filesystem::path identifier() const {
    return program() / "CONFIGURACAO" / "application.dvk";
  }
  std::map<std::string, std::string> env() const {
    return {{"DOVRA_PROGRAM_DIR", program().string()},
            {"DOVRA_WINDOWS_DIR", windows().string()},
            {"XDG_RUNTIME_DIR", dir.path().string()}};
  }
  TempDir dir;
};

TEST_F(Setup, WritesTheScrambledIdentifierAndEverySettingTheProgramReads) {
  const ProcessResult r =
      setup({"LOJA", "--database", "srv:/dados/ERP.FDB", "--user", "SYSDBA", "--password",
             "masterkey", "--backup-folder", "/srv/bkp", "--extra-folder", "/mnt/copia", "--times",
             "08:00,18:15,", "--remote", "--no-verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(identifier()), test::scramble("LOJA") + "\r\n");
  EXPECT_EQ(test::readFile(windows() / "LOJA.dvk"),
            "[conexao]\r\nendereco=srv:/dados/ERP.FDB\r\nusuario=" + test::scramble("SYSDBA") +
                "\r\nsenha=" + test::scramble("masterkey") +
                "\r\n[cnxnfe]\r\nendereco=srv:/dados/ERP.FDB\r\n[backup]\r\ntempo1=08:00\r\n"
                "tempo2=18:15\r\ntempo3=\r\nlocalremoto=R\r\nenderecobackup=/srv/bkp/\r\n"
                "caminhobkpmanual=/srv/bkp/\r\ncaminhobkpmanual2=/mnt/copia/\r\n"
                "[backupdovra]\r\nverificar=N\r\n");
  EXPECT_EQ(lineCount(r.out), 2u) << r.out;
}

TEST_F(Setup, NeverTouchesAnExistingSettingsFileNorRenamesAnInstallation) {
  std::filesystem::create_directories(windows());
  const std::string erp = "[conexao]\r\nendereco=erp:/x/ERP.FDB\r\n; do ERP\r\n[outra]\r\na=b\r\n";
  test::writeFile(windows() / "LOJA.dvk", erp);
  ProcessResult r = setup({"LOJA", "--database", "other:/y.fdb", "--backup-folder", "/b"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(windows() / "LOJA.dvk"), erp);
  EXPECT_EQ(test::readFile(identifier()), test::scramble("LOJA") + "\r\n");
  // Again with the same identifier: nothing changes.
  r = setup({"LOJA", "--database", "other:/y.fdb", "--backup-folder", "/b"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Another identifier in the same program folder would rename the installation.
  r = setup({"FILIAL", "--database", "other:/y.fdb", "--backup-folder", "/b"});
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(lineCount(r.err), 1u) << r.err;
  EXPECT_NE(r.err.find("\"LOJA\""), std::string::npos) << r.err;
  EXPECT_EQ(test::readFile(identifier()), test::scramble("LOJA") + "\r\n");
  EXPECT_FALSE(std::filesystem::exists(windows() / "FILIAL.dvk"));
}

// Values the program could not read back as given are refused before anything is written.
TEST_F(Setup, RefusesWhatTheProgramCouldNotReadBack) {
  const std::vector<std::vector<std::string>> bad = {
      // A blank at position 13 scrambles to a line break: the identifier would be cut.
      {"ABCDEFGHIJKL M", "--database", "a:/b.fdb", "--backup-folder", "/b"},
      {"A/B", "--database", "a:/b.fdb", "--backup-folder", "/b"},
      {"", "--database", "a:/b.fdb", "--backup-folder", "/b"},
      // "1x3" scrambles to a text between single quotes, which the settings reader strips.
      {"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b", "--password", "1x3"},
      {"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b", "--times", "9:30,16:30"},
      {"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b", "--times", "09:30,24:00"},
      {"LOJA", "--backup-folder", "/b"},
      {"LOJA", "--database", "a:/b.fdb"},
  };
  for (const auto& args : bad) {
    const ProcessResult r = setup(args);
    EXPECT_EQ(r.status, 64) << args[0] << " " << args.back();
    EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(identifier())) << args.back();
    EXPECT_FALSE(std::filesystem::exists(windows())) << args.back();
  }
}

// Passwords a fresh server may be given: scrambled, "1795a008" lies between quotes and
// "abcdef01" ends in a blank. The refusal says what to do instead.
TEST_F(Setup, APasswordTheFileCannotKeepIsRefusedWithWhatToDo) {
  for (const char* password : {"1795a008", "abcdef01"}) {
    const ProcessResult r = setup({"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b",
                                   "--password", password});
    EXPECT_EQ(r.status, 64) << password;
    EXPECT_NE(r.err.find("conexao/senha"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("would begin or end with a blank or a quote"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("choose another password"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(password), std::string::npos) << "the password is never shown: " << r.err;
    EXPECT_FALSE(std::filesystem::exists(windows())) << password;
  }
  const ProcessResult good = setup({"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b",
                                    "--password", "1795a009"});
  EXPECT_EQ(good.status, 0) << good.err;
}

TEST_F(Setup, AFolderThatCannotBeWrittenEndsWith73) {
  std::filesystem::create_directories(dir.path());
  test::writeFile(program(), "a file where the folder should be");
  const ProcessResult r = setup({"LOJA", "--database", "a:/b.fdb", "--backup-folder", "/b"});
  EXPECT_EQ(r.status, 73);
  EXPECT_EQ(lineCount(r.err), 1u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(windows() / "LOJA.dvk"));
}

// The program starts from what --setup wrote: it finds its settings by the unscrambled
// identifier, unscrambles the credentials, connects and completes the start sequence.
TEST_F(Setup, TheProgramStartsFromTheFilesItWrote) {
  test::FirebirdEnv fb;
  test::useFirebird(fb);
  if (IsSkipped() || HasFatalFailure()) return;
  const test::TestErp sample(fb);
  test::DbTempDir home(fb.dbDir, "setup");
  std::filesystem::permissions(home.path(), std::filesystem::perms::all);
  const ProcessResult r =
      setup({"Loja Três", "--database", sample.erp().mainLocation, "--nfe-database",
             sample.erp().nfeLocation, "--user", fb.user, "--password", fb.password,
             "--backup-folder", home.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  test::ProgramProcess p(env());
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();
  EXPECT_GE(p.waitFor({"\"event\":\"hint\"", "Empresa: "}), 0);
  EXPECT_EQ(p.waitFor({"\"event\":\"message\""}, 10ms), -1) << p.allOutput();
  // The guard is named from the identifier it read: a second start is refused.
  test::ProgramProcess second(env());
  EXPECT_EQ(second.waitExit(15s), 2) << second.allOutput();
  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
}

}  // namespace
}  // namespace dovra
