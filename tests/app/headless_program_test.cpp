// The real program, headless, driven through its standard input and read back from its
// JSON events.
#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>

#include "archive/archive_writer.h"
#include "fixtures/sample_erp.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::Installation;
using test::ProgramProcess;
using test::TempDir;

const char* const kStopped = "Caminho do banco não encontrado";

TEST(HeadlessProgram, EmptySettingsFolderShowsTheWaitingHintThenTheMissingSettingsAndEndsWithOne) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "EMPRESA");
  ProgramProcess p(inst.env());
  EXPECT_EQ(p.waitExit(15s), 1);
  const auto lines = p.lines();
  ASSERT_GE(lines.size(), 3u) << p.allOutput();
  EXPECT_EQ(lines[0],
            "{\"event\":\"hint\",\"text\":\"Aguarde o sistema está sendo inicializado\","
            "\"tip\":\"Aguarde o sistema está sendo inicializado\"}");
  EXPECT_NE(lines[lines.size() - 2].find(
                "\"text\":\"O arquivo de configuração .ini não foi encontrado!\\r"
                "Esta aplicação será encerrada!!\""),
            std::string::npos)
      << p.allOutput();
  EXPECT_EQ(lines.back(), "{\"event\":\"exit\",\"code\":1}");
}

// Settings the start accepts, but no client library to load: the library's message, then
// the end, rather than waiting for a connection that cannot come.
TEST(HeadlessProgram, AClientLibraryThatCannotBeLoadedIsShownAndEndsTheStart) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "SEMCLIENTE");
  std::filesystem::create_directories(dir.path() / "bkp");
  test::SampleSettings s;
  s.database = "localhost:" + (dir.path() / "ERP.fdb").string();
  s.user = "SYSDBA";
  s.password = "senha";
  s.backup = {{"enderecobackup", (dir.path() / "bkp").string() + "/"}, {"localremoto", "L"}};
  test::writeSettingsFile(inst.settings, s);
  auto env = inst.env();
  env["DOVRA_FBCLIENT"] = "libfbclient-ausente.so.9";
  ProgramProcess p(env);
  EXPECT_EQ(p.waitExit(20s), 1) << p.allOutput();
  const auto lines = p.lines();
  ASSERT_GE(lines.size(), 2u) << p.allOutput();
  EXPECT_EQ(lines[lines.size() - 2],
            "{\"event\":\"message\",\"caption\":\"BackUpDovra\",\"text\":\"InterBase library "
            "libfbclient-ausente.so.9 not found in the path. Please install InterBase to use this "
            "functionality.\",\"icon\":\"error\",\"answer\":\"ok\",\"queued\":false}");
  EXPECT_EQ(lines.back(), "{\"event\":\"exit\",\"code\":1}");
}

// One instance per identifier: a second one ends with 2, another identifier runs beside
// it, and a killed instance leaves its guard free.
TEST(HeadlessProgram, OneInstancePerIdentifierWhileItsProcessLives) {
  TempDir dir;
  Installation inst(dir.path() / "a", "LOJA");
  Installation other(dir.path() / "b", "FILIAL");
  inst.writeStoppingSettings();
  other.writeStoppingSettings();
  ProgramProcess first(inst.env());
  ASSERT_GE(first.waitFor({kStopped}, 15s), 0) << first.allOutput();
  ProgramProcess second(inst.env());
  EXPECT_EQ(second.waitExit(15s), 2);
  EXPECT_GE(second.waitFor({"\"event\":\"message\"", "\"caption\":\"Atenção!\"",
                            "\"text\":\"Este programa já está aberto !\"", "\"icon\":\"none\""}),
            0)
      << second.allOutput();
  ProgramProcess beside(other.env());
  ASSERT_GE(beside.waitFor({kStopped}, 15s), 0) << beside.allOutput();
  EXPECT_TRUE(beside.running());
  EXPECT_TRUE(first.running());
  // The first still answers: a double click in the waiting state gives the waiting balloon.
  first.send("CoolTrayIcon1DblClick");
  EXPECT_GE(first.waitFor({"\"event\":\"balloon\"", "Aguarde o sistema está sendo inicializado."}),
            0);

  first.signal(SIGKILL);
  EXPECT_EQ(first.waitExit(5s), 128 + SIGKILL);
  ProgramProcess again(inst.env());
  ASSERT_GE(again.waitFor({kStopped}, 15s), 0) << again.allOutput();
  EXPECT_TRUE(again.running());
}

// The guard is machine-wide: a second start of the same installation with another runtime
// folder (another session, another user's environment) is still the second instance.
TEST(HeadlessProgram, SecondStartWithAnotherRuntimeFolderIsStillTheSecondInstance) {
  TempDir dir;
  Installation inst(dir.path() / "a", "LOJA");
  inst.writeStoppingSettings();
  auto env = inst.env();
  env["XDG_RUNTIME_DIR"] = (dir.path() / "run-1").string();
  ProgramProcess first(env);
  ASSERT_GE(first.waitFor({kStopped}, 15s), 0) << first.allOutput();
  env["XDG_RUNTIME_DIR"] = (dir.path() / "run-2").string();
  ProgramProcess second(env);
  EXPECT_EQ(second.waitExit(15s), 2) << second.allOutput();
  env.erase("XDG_RUNTIME_DIR");
  ProgramProcess third(env, {"--headless"});
  EXPECT_EQ(third.waitExit(15s), 2) << third.allOutput();
  EXPECT_TRUE(first.running());
}

TEST(HeadlessProgram, HandlersComeInOnStandardInputAndSigtermRunsTheExitSequence) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "CMD");
  inst.writeStoppingSettings();
  ProgramProcess p(inst.env());
  ASSERT_GE(p.waitFor({kStopped}, 15s), 0);
  p.send("Sair1Click");  // the menu is not attached: unreachable
  EXPECT_GE(p.waitFor({"\"event\":\"ignored\"", "\"handler\":\"Sair1Click\""}), 0);
  p.send("NoSuchHandler");
  EXPECT_GE(p.waitFor({"\"event\":\"error\"", "unknown handler: NoSuchHandler"}), 0);
  // Names the window does not have are refused as such, not as read-only.
  p.send("set MaskEdit9 07:45");
  EXPECT_GE(p.waitFor({"\"event\":\"error\"", "unknown edit: MaskEdit9"}), 0);
  p.send("check rbLocal2");
  EXPECT_GE(p.waitFor({"\"event\":\"error\"", "unknown radio button: rbLocal2"}), 0);
  p.send("MemoBackupDblClick");
  EXPECT_GE(p.waitFor({"{\"event\":\"page\",\"name\":\"TabSheet3\",\"visible\":true}"}), 0);
  p.send("Label8DblClick");
  EXPECT_GE(p.waitFor({"{\"event\":\"control\",\"name\":\"SpeedButton12\",\"visible\":true}"}), 0);
  // The settings page: type a time and leave the edit; it reaches the settings file.
  p.send("set MaskEdit1 07:45");
  p.send("MaskEdit1Exit");
  p.send("set MaskEdit2 1 :  ");
  p.send("MaskEdit2Exit");
  EXPECT_GE(p.waitFor({"Invalid input value.  Use escape key to abandon changes"}), 0);
  p.send("TabSheet3Show");
  EXPECT_GE(p.waitFor({"{\"event\":\"edit\",\"name\":\"MaskEdit1\",\"text\":\"07:45\"}"}), 0)
      << p.allOutput();
  EXPECT_NE(test::readFile(inst.settings).find("tempo1=07:45\r\n"), std::string::npos);
  EXPECT_EQ(test::readFile(inst.settings).find("tempo2"), std::string::npos);

  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
  EXPECT_GE(p.waitFor({"{\"event\":\"tray\",\"visible\":false}"}, 1s), 0) << p.allOutput();
  EXPECT_EQ(p.lines().back(), "{\"event\":\"exit\",\"code\":0}");
}

// Only the time edits take typing from the console, as on screen: the disabled archive
// edit and the read-only folder edits refuse it, and the unpack page then has nothing to
// unpack until an archive is chosen.
TEST(HeadlessProgram, SetIntoADisabledOrReadOnlyEditIsRefused) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "SET");
  inst.writeStoppingSettings();
  std::filesystem::create_directories(dir.path() / "in");
  std::filesystem::create_directories(dir.path() / "arq");
  test::writeFile(dir.path() / "in" / "EMPRESA.fbk", "backup da empresa");
  const std::string archive = (dir.path() / "arq" / "EMPRESA.zlib").string();
  CompressFiles({(dir.path() / "in" / "EMPRESA.fbk").string()}, archive);
  const std::filesystem::path unpacked = dir.path() / "arq" / "EMPRESA.fbk";

  ProgramProcess p(inst.env());
  ASSERT_GE(p.waitFor({kStopped}, 15s), 0);
  p.send("set Edit3 " + archive);
  EXPECT_GE(p.waitFor({"{\"event\":\"ignored\",\"edit\":\"Edit3\",\"reason\":\"disabled\"}"}), 0)
      << p.allOutput();
  p.send("set Edit2 /tmp/");
  EXPECT_GE(p.waitFor({"{\"event\":\"ignored\",\"edit\":\"Edit2\",\"reason\":\"read-only\"}"}), 0)
      << p.allOutput();
  p.send("SpeedButton11Click");
  const int question = p.waitFor({"\"event\":\"message\"", "RESTORE da base"});
  ASSERT_GE(question, 0) << p.allOutput();
  EXPECT_EQ(p.allOutput().find("lbDecompress"), std::string::npos) << p.allOutput();
  EXPECT_FALSE(std::filesystem::exists(unpacked));

  // Chosen through its button, the archive is unpacked.
  p.send("answer " + archive);
  p.send("SpeedButton10Click");
  p.send("SpeedButton11Click");
  EXPECT_GT(p.waitFor({"\"name\":\"lbDecompress\"", "Concluído"}, 10s, question), question)
      << p.allOutput();
  EXPECT_EQ(test::readFile(unpacked), "backup da empresa");

  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
}

}  // namespace
}  // namespace dovra
