// The start sequence up to the database connection: settings, base names, times, the
// first-run folder prompt and the checks on the base names.
#include "form/form_test_support.h"

#include "form/start_sequence.h"

namespace dovra {
namespace {

using test::readFile;
using test::scramble;
using test::writeFile;

double hm(int h, int n) {
  return (h * 60.0 + n) / 1440.0;
}

class StartSettingsTest : public test::FormFixture {
 protected:
  void SetUp() override {
    writeIdentifier("EMP");
    form->FormCreate();
    file = settingsPath("EMP");
  }
  void writeSettings(const std::string& backupSection,
                     const std::string& main = "srv:C:\\dados\\ERP.FDB",
                     const std::string& nfe = "srv:C:\\dados\\NFE.FDB") {
    writeFile(file, "[conexao]\r\nendereco=" + main + "\r\nusuario=" + scramble("SYSDBA") +
                        "\r\nsenha=" + scramble("masterkey") + "\r\n[cnxnfe]\r\nendereco=" + nfe +
                        "\r\n[backup]\r\n" + backupSection);
  }
  std::string file;
};

// Base names and times of ordinary settings are read through the start sequence below.
TEST(StartSequenceHelpers, BaseNamesDropTheLastFourCharactersWhateverTheyAre) {
  EXPECT_EQ(baseNameOf("/x/.fdb"), "");
  EXPECT_EQ(baseNameOf("/x/ção1.fdb"), "ção1");
  EXPECT_EQ(baseNameOf("srv:C:\\dados\\a.gdb"), "a");
  EXPECT_FALSE(hasPathSeparator("srv:erp.fdb"));
}

TEST_F(StartSettingsTest, MissingSettingsFileEndsTheProgramWithItsMessage) {
  form->timerIniciaTimer();
  EXPECT_FALSE(form->timerInicia.enabled());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "");
  EXPECT_EQ(dialogs.shown[0].text,
            "O arquivo de configuração .ini não foi encontrado!\rEsta aplicação será encerrada!!");
  EXPECT_EQ(loop.run(), 1);
}

TEST_F(StartSettingsTest, LoadsRunStateAndWritesLWhenLocalRemoteIsMissing) {
  writeSettings("tempo1=08:00\r\ntempo2=25:99\r\ntempo3=  :  \r\nenderecobackup=/srv/backup/\r\n");
  form->timerIniciaTimer();
  const RunState& s = form->state();
  EXPECT_EQ(s.LocalRemote, "L");
  EXPECT_EQ(ProfileFile(file).readString("backup", "localremoto"), "L");
  EXPECT_EQ(s.DatabasePath, "srv:C:\\dados\\ERP.FDB");
  EXPECT_EQ(s.DatabaseBaseName, "ERP");
  EXPECT_EQ(s.NfeDatabaseBaseName, "NFE");
  EXPECT_EQ(s.DbUser, "SYSDBA");
  EXPECT_EQ(s.DbPassword, "masterkey");
  EXPECT_DOUBLE_EQ(s.BackupTime1, hm(8, 0));
  EXPECT_DOUBLE_EQ(s.BackupTime2, hm(16, 30));
  EXPECT_DOUBLE_EQ(s.FtpTime, hm(12, 0));
  EXPECT_EQ(s.BackupFolder, "/srv/backup/");
  EXPECT_TRUE(s.VerifyEnabled);  // no section of our own: archives are checked
}

TEST_F(StartSettingsTest, OurOwnSectionTurnsTheArchiveCheckOffAndIsOnlyRead) {
  for (const auto& [value, on] : std::vector<std::pair<std::string, bool>>{
           {"N", false}, {" n ", false}, {"S", true}, {"", true}, {"não", true}}) {
    SCOPED_TRACE(value);
    writeSettings("localremoto=L\r\nenderecobackup=/srv/backup/\r\n[backupdovra]\r\nverificar=" +
                  value + "\r\n");
    const std::string before = readFile(file);
    form->timerIniciaTimer();
    EXPECT_EQ(form->state().VerifyEnabled, on);
    EXPECT_EQ(readFile(file), before);
  }
}

TEST_F(StartSettingsTest, EmptyTimesLeaveTheirSlotsOff) {
  writeSettings("localremoto=R\r\ntempo1=\r\nenderecobackup=/srv/backup/\r\n");
  form->timerIniciaTimer();
  EXPECT_EQ(form->state().LocalRemote, "R");
  EXPECT_DOUBLE_EQ(form->state().BackupTime1, 0.0);
  EXPECT_DOUBLE_EQ(form->state().BackupTime2, 0.0);
  EXPECT_DOUBLE_EQ(form->state().FtpTime, 0.0);
}

TEST_F(StartSettingsTest, LocationsWithoutSeparatorStopTheSequenceButNotTheProgram) {
  writeSettings("enderecobackup=/srv/backup/\r\n", "srv:ERP.FDB");
  form->timerIniciaTimer();
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Caminho do banco não encontrado, verifique o confvarde"});
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_FALSE(loop.exiting());
  EXPECT_TRUE(form->window().waitingForStart());

  dialogs.shown.clear();
  writeSettings("enderecobackup=/srv/backup/\r\n", "srv:C:\\ERP.FDB", "NFE.FDB");
  form->timerIniciaTimer();
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Caminho do banco nfe não encontrado, verifique o confvarde"});
  EXPECT_FALSE(loop.exiting());
}

TEST_F(StartSettingsTest, OneCharacterBaseNameEndsTheProgram) {
  writeSettings("enderecobackup=/srv/backup/\r\n", "srv:C:\\dados\\a.fdb");
  form->timerIniciaTimer();
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Base inválida!"});
  EXPECT_EQ(loop.run(), 1);
}

TEST_F(StartSettingsTest, OneCharacterNfeBaseNameEndsTheProgram) {
  writeSettings("enderecobackup=/srv/backup/\r\n", "srv:C:\\dados\\erp.fdb", "srv:C:\\n.fdb");
  form->timerIniciaTimer();
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Base nfe inválida!"});
  EXPECT_EQ(loop.run(), 1);
}

TEST_F(StartSettingsTest, FirstRunPromptStoresTheChosenFolderForTheNextStart) {
  writeSettings("enderecobackup=\r\n");
  const auto folder = dir.path() / "copias";
  std::filesystem::create_directories(folder);
  dialogs.answer("ok");
  dialogs.answer((folder / "Selecione a pasta para backup automático").string());
  form->timerIniciaTimer();
  ASSERT_GE(dialogs.shown.size(), 3u);
  EXPECT_EQ(dialogs.shown[0].text,
            "Caminho do backup não encontrado.\rClique OK e escolha uma pasta para o backup "
            "automático!");
  EXPECT_EQ(dialogs.shown[1].kind, "open");
  EXPECT_EQ(dialogs.shown[1].caption, "Selecione a pasta para backup automático");
  EXPECT_EQ(dialogs.shown[2].text, "Caminho do backup configurado com sucesso!");
  EXPECT_TRUE(form->window().windowVisible());
  EXPECT_EQ(ProfileFile(file).readString("backup", "enderecobackup"), folder.string() + "/");
  EXPECT_EQ(form->state().BackupFolder, "");  // this run keeps what it read
  EXPECT_FALSE(loop.exiting());
}

TEST_F(StartSettingsTest, FirstRunPromptCancelledOrInvalidEndsTheProgram) {
  writeSettings("enderecobackup=abc\r\n");
  form->timerIniciaTimer();  // no answer queued: the dialog is cancelled
  EXPECT_EQ(dialogs.messages().back(),
            "Caminho do backup inválido!\rConfigure o confvarde no bloco:backup->enderecobackup.");
  EXPECT_EQ(loop.run(), 1);
}

TEST_F(StartSettingsTest, FirstRunPromptWithAMissingFolderEndsTheProgram) {
  writeSettings("enderecobackup=\r\n");
  dialogs.answer("ok");
  dialogs.answer((dir.path() / "nao-existe" / "arquivo").string());
  form->timerIniciaTimer();
  EXPECT_EQ(dialogs.messages().back(), "Pasta inválida!");
  EXPECT_EQ(ProfileFile(file).readString("backup", "enderecobackup"), "");
  EXPECT_EQ(loop.run(), 1);
}

}  // namespace
}  // namespace dovra
