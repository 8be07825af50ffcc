// The real program, headless, driven through its standard input and read back from its
// JSON events, on both systems (backupdovra.exe, a Windows process with the console front
// end, on Windows): the start sequence up to the missing settings, one instance per
// identifier, and handlers typed on its standard input. What one system alone has comes
// last: signals, the runtime folder and the client library's name on Linux, and accented
// arguments on a Windows command line.
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
#ifdef _WIN32
// Wine starts a program slowly the first time; the bounds are for a machine under load.
constexpr auto kStart = 60s;
#else
constexpr auto kStart = 15s;
#endif
// The number of SIGKILL: on Windows ProgramProcess::signal ends the program with the same
// status, 128 + the number.
constexpr int kKill = 9;

// Lines typed on the program's standard input and the event they lead to.
struct Step {
  std::vector<std::string> send;
  std::vector<std::string> expect;  // fragments of one event line
};

void run(ProgramProcess& p, const std::vector<Step>& steps) {
  for (const auto& step : steps) {
    for (const auto& line : step.send) p.send(line);
    EXPECT_GE(p.waitFor(step.expect), 0) << step.send.back() << "\n" << p.allOutput();
  }
}

// In an accented installation folder, as a Windows installation may be.
TEST(Program, EmptySettingsFolderShowsTheWaitingHintThenTheMissingSettingsAndEndsWithOne) {
  TempDir dir;
  Installation inst(dir.path() / std::filesystem::u8path("Instalação da loja"), "EMPRESA");
  ProgramProcess p(inst.env());
  EXPECT_EQ(p.waitExit(kStart), 1) << p.allOutput();
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

// One instance per identifier (on Windows the mutex <id>BKPDOVRA): a second one ends with 2,
// another identifier runs beside it, and a killed instance leaves its guard free.
TEST(Program, OneInstancePerIdentifierWhileItsProcessLives) {
  TempDir dir;
  Installation inst(dir.path() / "a", "LOJA");
  Installation other(dir.path() / "b", "FILIAL");
  inst.writeStoppingSettings();
  other.writeStoppingSettings();
  ProgramProcess first(inst.env());
  ASSERT_GE(first.waitFor({kStopped}, kStart), 0) << first.allOutput();
  ProgramProcess second(inst.env());
  EXPECT_EQ(second.waitExit(kStart), 2) << second.allOutput();
  EXPECT_GE(second.waitFor({"\"event\":\"message\"", "\"caption\":\"Atenção!\"",
                            "\"text\":\"Este programa já está aberto !\"", "\"icon\":\"none\""},
                           1s),
            0)
      << second.allOutput();
  EXPECT_EQ(second.lines().back(), "{\"event\":\"exit\",\"code\":2}");
  ProgramProcess beside(other.env());
  ASSERT_GE(beside.waitFor({kStopped}, kStart), 0) << beside.allOutput();
  EXPECT_TRUE(beside.running());
  EXPECT_TRUE(first.running());
  // The first still answers: a double click in the waiting state gives the waiting balloon.
  run(first, {{{"CoolTrayIcon1DblClick"},
               {"\"event\":\"balloon\"", "Aguarde o sistema está sendo inicializado."}}});

  first.signal(kKill);
  EXPECT_EQ(first.waitExit(10s), 128 + kKill);
  ProgramProcess again(inst.env());
  ASSERT_GE(again.waitFor({kStopped}, kStart), 0) << again.allOutput();
  EXPECT_TRUE(again.running());
}

TEST(Program, HandlersComeInOnStandardInputAndReachTheSettingsFile) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "CMD");
  inst.writeStoppingSettings();
  ProgramProcess p(inst.env());
  ASSERT_GE(p.waitFor({kStopped}, kStart), 0) << p.allOutput();
  run(p,
      {
          // The menu is not attached: unreachable.
          {{"Sair1Click"}, {"\"event\":\"ignored\"", "\"handler\":\"Sair1Click\""}},
          {{"NoSuchHandler"}, {"\"event\":\"error\"", "unknown handler: NoSuchHandler"}},
          // Names the window does not have are refused as such, not as read-only.
          {{"set MaskEdit9 07:45"}, {"\"event\":\"error\"", "unknown edit: MaskEdit9"}},
          {{"check rbLocal2"}, {"\"event\":\"error\"", "unknown radio button: rbLocal2"}},
          {{"MemoBackupDblClick"},
           {"{\"event\":\"page\",\"name\":\"TabSheet3\",\"visible\":true}"}},
          {{"Label8DblClick"},
           {"{\"event\":\"control\",\"name\":\"SpeedButton12\",\"visible\":true}"}},
          // The settings page: a time typed and the edit left reaches the settings file;
          // a half-typed one is refused.
          {{"set MaskEdit1 07:45", "MaskEdit1Exit", "set MaskEdit2 1 :  ", "MaskEdit2Exit"},
           {"Invalid input value.  Use escape key to abandon changes"}},
          {{"TabSheet3Show"}, {"{\"event\":\"edit\",\"name\":\"MaskEdit1\",\"text\":\"07:45\"}"}},
      });
  const std::string settings = test::readFile(std::filesystem::u8path(inst.settings));
  EXPECT_NE(settings.find("tempo1=07:45\r\n"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("tempo2"), std::string::npos) << settings;
  EXPECT_TRUE(p.running());
#ifndef _WIN32
  // A termination signal runs the exit sequence (Windows has none to send another process).
  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
  EXPECT_GE(p.waitFor({"{\"event\":\"tray\",\"visible\":false}"}, 1s), 0) << p.allOutput();
  EXPECT_EQ(p.lines().back(), "{\"event\":\"exit\",\"code\":0}");
#endif
}

// Only the time edits take typing from the console, as on screen: the disabled archive
// edit and the read-only folder edits refuse it, and the unpack page then has nothing to
// unpack until an archive is chosen.
TEST(Program, SetIntoADisabledOrReadOnlyEditIsRefused) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "SET");
  inst.writeStoppingSettings();
  std::filesystem::create_directories(dir.path() / "in");
  std::filesystem::create_directories(dir.path() / "arq");
  test::writeFile(dir.path() / "in" / "EMPRESA.fbk", "backup da empresa");
  const std::string archive = test::utf8Name(dir.path() / "arq" / "EMPRESA.zlib");
  CompressFiles({test::utf8Name(dir.path() / "in" / "EMPRESA.fbk")}, archive);
  const std::filesystem::path unpacked = dir.path() / "arq" / "EMPRESA.fbk";

  ProgramProcess p(inst.env());
  ASSERT_GE(p.waitFor({kStopped}, kStart), 0) << p.allOutput();
  run(p, {{{"set Edit3 " + archive},
           {"{\"event\":\"ignored\",\"edit\":\"Edit3\",\"reason\":\"disabled\"}"}},
          {{"set Edit2 /tmp/"},
           {"{\"event\":\"ignored\",\"edit\":\"Edit2\",\"reason\":\"read-only\"}"}}});
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
  EXPECT_TRUE(p.running());
#ifndef _WIN32
  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
#endif
}

#ifndef _WIN32
// Settings the start accepts, but no client library to load: the library's message, then
// the end, rather than waiting for a connection that cannot come. (On Windows the library
// is looked for on the search path: the ERP suite's WithoutAnyClientLibrary case.)
TEST(Program, AClientLibraryThatCannotBeLoadedIsShownAndEndsTheStart) {
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

// The guard is machine-wide: a second start of the same installation with another runtime
// folder (another session, another user's environment) is still the second instance.
TEST(Program, SecondStartWithAnotherRuntimeFolderIsStillTheSecondInstance) {
  TempDir dir;
  Installation inst(dir.path() / "a", "LOJA");
  inst.writeStoppingSettings();
  auto env = inst.env();
  env["XDG_RUNTIME_DIR"] = (dir.path() / "run-1").string();
  ProgramProcess first(env);
  ASSERT_GE(first.waitFor({kStopped}, kStart), 0) << first.allOutput();
  env["XDG_RUNTIME_DIR"] = (dir.path() / "run-2").string();
  ProgramProcess second(env);
  EXPECT_EQ(second.waitExit(kStart), 2) << second.allOutput();
  env.erase("XDG_RUNTIME_DIR");
  ProgramProcess third(env, {"--headless"});
  EXPECT_EQ(third.waitExit(kStart), 2) << third.allOutput();
  EXPECT_TRUE(first.running());
}
#else
// --setup with accented values as typed on a Windows command line: the files hold them in
// Windows-1252, as the ERP's installer writes them.
TEST(Program, SetupTakesAccentedArgumentsAsTyped) {
  TempDir dir;
  const std::filesystem::path program = dir.path() / L"Aplica\u00E7\u00E3o";
  const std::filesystem::path windows = dir.path() / "windows";
  ProgramProcess p({{"DOVRA_PROGRAM_DIR", test::utf8Name(program)},
                    {"DOVRA_WINDOWS_DIR", test::utf8Name(windows)}},
                   {"--setup", "Loja Três", "--database", "C:\\Dados Ação\\ERP.FDB",
                    "--backup-folder", "C:\\Cópia de Segurança", "--password", "senha"});
  ASSERT_EQ(p.waitExit(kStart), 0) << p.allOutput();
  EXPECT_EQ(test::readFile(program / "CONFIGURACAO" / "application.dvk"),
            test::scramble("Loja Tr\xEAs") + "\r\n");
  const std::string settings = test::readFile(windows / L"Loja Tr\u00EAs.dvk");
  EXPECT_NE(settings.find("\r\nendereco=C:\\Dados A\xE7\xE3o\\ERP.FDB\r\n"), std::string::npos)
      << settings;
  EXPECT_NE(settings.find("\r\nenderecobackup=C:\\C\xF3pia de Seguran\xE7"
                          "a\\\r\n"),
            std::string::npos)
      << settings;
}
#endif

}  // namespace
}  // namespace dovra
