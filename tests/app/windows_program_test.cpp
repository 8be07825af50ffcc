// backupdovra.exe run as a Windows process with the console front end: the start sequence
// up to the missing settings, one instance per identifier through the named mutex, and
// handlers typed on its standard input.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::Installation;
using test::ProgramProcess;
using test::TempDir;

const char* const kStopped = "Caminho do banco não encontrado";
// Wine starts a program slowly the first time; the bounds are for a machine under load.
constexpr auto kStart = 60s;

TEST(WindowsProgram, EmptySettingsFolderShowsTheWaitingHintThenTheMissingSettingsAndEndsWithOne) {
  TempDir dir;
  Installation inst(dir.path() / "Instala\xC3\xA7\xC3\xA3o da loja", "EMPRESA");
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

// The mutex <id>BKPDOVRA: a second process with the same identifier ends with 2, another
// identifier runs beside it, and the mutex goes with the process that held it.
TEST(WindowsProgram, SecondProcessWithTheSameIdentifierEndsWithTwo) {
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
                            "\"text\":\"Este programa já está aberto !\""},
                           1s),
            0)
      << second.allOutput();
  EXPECT_EQ(second.lines().back(), "{\"event\":\"exit\",\"code\":2}");
  ProgramProcess beside(other.env());
  ASSERT_GE(beside.waitFor({kStopped}, kStart), 0) << beside.allOutput();
  EXPECT_TRUE(beside.running());
  EXPECT_TRUE(first.running());

  first.signal(9);
  EXPECT_EQ(first.waitExit(10s), 128 + 9);
  ProgramProcess again(inst.env());
  ASSERT_GE(again.waitFor({kStopped}, kStart), 0) << again.allOutput();
  EXPECT_TRUE(again.running());
}

TEST(WindowsProgram, HandlersComeInOnStandardInputAndReachTheSettingsFile) {
  TempDir dir;
  Installation inst(dir.path() / "inst", "CMD");
  inst.writeStoppingSettings();
  ProgramProcess p(inst.env());
  ASSERT_GE(p.waitFor({kStopped}, kStart), 0) << p.allOutput();
  p.send("Sair1Click");  // the menu is not attached: unreachable
  EXPECT_GE(p.waitFor({"\"event\":\"ignored\"", "\"handler\":\"Sair1Click\""}), 0) << p.allOutput();
  p.send("NoSuchHandler");
  EXPECT_GE(p.waitFor({"\"event\":\"error\"", "unknown handler: NoSuchHandler"}), 0);
  p.send("MemoBackupDblClick");
  EXPECT_GE(p.waitFor({"{\"event\":\"page\",\"name\":\"TabSheet3\",\"visible\":true}"}), 0);
  p.send("set MaskEdit1 07:45");
  p.send("MaskEdit1Exit");
  p.send("set MaskEdit2 1 :  ");
  p.send("MaskEdit2Exit");
  EXPECT_GE(p.waitFor({"Invalid input value.  Use escape key to abandon changes"}), 0)
      << p.allOutput();
  p.send("TabSheet3Show");
  EXPECT_GE(p.waitFor({"{\"event\":\"edit\",\"name\":\"MaskEdit1\",\"text\":\"07:45\"}"}), 0)
      << p.allOutput();
  const std::string settings = test::readFile(std::filesystem::u8path(inst.settings));
  EXPECT_NE(settings.find("tempo1=07:45\r\n"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("tempo2"), std::string::npos) << settings;
  EXPECT_TRUE(p.running());
}

// --setup with accented values as typed on a Windows command line: the files hold them in
// Windows-1252, as the ERP's installer writes them.
TEST(WindowsProgram, SetupTakesAccentedArgumentsAsTyped) {
  TempDir dir;
  const std::filesystem::path program = dir.path() / L"Aplica\u00E7\u00E3o";
  const std::filesystem::path windows = dir.path() / "windows";
  const auto utf8 = [](const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
  };
  ProgramProcess p({{"DOVRA_PROGRAM_DIR", utf8(program)}, {"DOVRA_WINDOWS_DIR", utf8(windows)}},
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

}  // namespace
}  // namespace dovra
