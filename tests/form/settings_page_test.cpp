#include "form/form_test_support.h"

#include "platform/autostart.h"

namespace dovra {
namespace {

using test::FormFixture;
using test::readFile;
using test::writeFile;

class SettingsPageTest : public FormFixture {
 protected:
  void SetUp() override {
    writeIdentifier("EMP");
    form->FormCreate();
    form->MemoBackupDblClick();
    file = settingsPath("EMP");
  }
  std::string file;
};

TEST_F(SettingsPageTest, FillsTheControlsFromTheFileAndTheRadioFromRunState) {
  // Without a backup section nothing is filled.
  writeFile(file, "[conexao]\r\nendereco=x\r\n");
  form->window().setEditText("MaskEdit1", "07:00");
  form->TabSheet3Show();
  EXPECT_EQ(form->window().editText("MaskEdit1"), "07:00");

  writeFile(file,
            "[BACKUP]\r\ntempo1=09:30\r\ntempo2=16:30\r\ntempo3=\r\ncaminhobkpmanual=/m/\r\n"
            "enderecobackup=/a/\r\ncaminhobkpmanual2=/x/\r\nlocalremoto=R\r\n");
  form->state().LocalRemote = "L";
  form->TabSheet3Show();
  EXPECT_EQ(form->window().editText("MaskEdit1"), "09:30");
  EXPECT_EQ(form->window().editText("MaskEdit2"), "16:30");
  EXPECT_EQ(form->window().editText("MaskEdit3"), "  :  ");  // the mask's empty form
  EXPECT_EQ(form->window().editText("Edit1"), "/m/");
  EXPECT_EQ(form->window().editText("Edit2"), "/a/");
  EXPECT_EQ(form->window().editText("Edit4"), "/x/");
  EXPECT_TRUE(form->window().checked("rbLocal"));  // the value read at start, not the file's
}

TEST_F(SettingsPageTest, TimeEditsAreWrittenAsTheyStandAndMidnightClearsTheUpload) {
  writeFile(file, "[backup]\r\ntempo1=09:30\r\n");
  form->window().setEditText("MaskEdit1", "  :  ");  // an untouched empty edit
  form->MaskEdit1Exit();
  EXPECT_EQ(ProfileFile(file).readRaw("backup", "tempo1"), ":");  // surrounding blanks read away
  EXPECT_NE(readFile(file).find("tempo1=  :  \r\n"), std::string::npos);
  form->window().setEditText("MaskEdit2", "00:00", true);
  form->MaskEdit2Exit();
  EXPECT_EQ(ProfileFile(file).readString("backup", "tempo2"), "00:00");
  form->window().setEditText("MaskEdit3", "00:00", true);
  form->MaskEdit3Exit();
  EXPECT_EQ(form->window().editText("MaskEdit3"), "  :  ");
  EXPECT_TRUE(ProfileFile(file).sectionExists("backup"));
  EXPECT_NE(readFile(file).find("tempo3=\r\n"), std::string::npos);
}

TEST_F(SettingsPageTest, AnIncompleteTypedTimeIsRefusedAndNothingIsWritten) {
  writeFile(file, "[backup]\r\ntempo1=09:30\r\n");
  form->window().setEditText("MaskEdit1", "1 :3 ", true);
  form->MaskEdit1Exit();
  EXPECT_EQ(ProfileFile(file).readString("backup", "tempo1"), "09:30");
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(dialogs.shown.back().text, "Invalid input value.  Use escape key to abandon changes");
}

// A time edit nobody filled or touched holds the mask's blank text, and leaving it writes
// exactly that; after a refused text, Escape returns to the last accepted one.
TEST_F(SettingsPageTest, UntouchedEmptyTimeEditWritesTheMaskBlanksAndEscapeAbandonsChanges) {
  writeFile(file, "[backup]\r\ntempo1=09:30\r\n");
  EXPECT_EQ(form->window().editText("MaskEdit2"), "  :  ");
  form->MaskEdit2Exit();
  EXPECT_NE(readFile(file).find("tempo2=  :  \r\n"), std::string::npos) << readFile(file);
  form->window().setEditText("MaskEdit2", "", true);  // typed away: still the mask's form
  EXPECT_EQ(form->window().editText("MaskEdit2"), "  :  ");

  form->TabSheet3Show();
  form->window().setEditText("MaskEdit1", "1 :3 ", true);
  form->MaskEdit1Exit();
  EXPECT_TRUE(form->window().editModified("MaskEdit1"));  // the focus stays
  form->window().abandonEditChanges("MaskEdit1");
  EXPECT_EQ(form->window().editText("MaskEdit1"), "09:30");
  EXPECT_FALSE(form->window().editModified("MaskEdit1"));
  form->MaskEdit1Exit();
  EXPECT_EQ(dialogs.messages().size(), 1u);
  form->window().setEditText("MaskEdit1", "10:15", true);
  form->MaskEdit1Exit();
  EXPECT_FALSE(form->window().editModified("MaskEdit1"));
  form->window().setEditText("MaskEdit1", "1", true);
  form->window().abandonEditChanges("MaskEdit1");
  EXPECT_EQ(form->window().editText("MaskEdit1"), "10:15");
  EXPECT_EQ(ProfileFile(file).readString("backup", "tempo1"), "10:15");
}

TEST_F(SettingsPageTest, RadioPairWritesLOrR) {
  form->window().setChecked("rbRemoto", true);
  form->rbRemotoExit();
  EXPECT_EQ(ProfileFile(file).readString("backup", "localremoto"), "R");
  form->window().setChecked("rbLocal", true);
  form->rbLocalExit();
  EXPECT_EQ(ProfileFile(file).readString("backup", "localremoto"), "L");
}

TEST_F(SettingsPageTest, FolderPickersStoreTheFolderWithItsTrailingSeparator) {
  const auto folder = dir.path() / "bkp";
  std::filesystem::create_directories(folder);
  dialogs.answer((folder / "Selecione a pasta para backup manual").string());
  form->SpeedButton6Click();
  EXPECT_EQ(dialogs.shown.back().caption, "Selecione a pasta para backup manual");
  EXPECT_EQ(dialogs.shown.back().text, "Selecione a pasta para backup manual");
  EXPECT_EQ(ProfileFile(file).readString("backup", "caminhobkpmanual"), folder.string() + "/");
  EXPECT_EQ(form->window().editText("Edit1"), folder.string() + "/");

  dialogs.answer((dir.path() / "gone" / "x").string());  // picked, then deleted
  form->SpeedButton1Click();
  EXPECT_EQ(dialogs.shown.back().text, "Pasta inválida!");
  EXPECT_EQ(dialogs.shown.back().caption, "BackUp Dovra Informática");
  EXPECT_EQ(form->window().editText("Edit4"), "");
  EXPECT_EQ(ProfileFile(file).readString("backup", "caminhobkpmanual2"), "");

  const size_t before = dialogs.shown.size();
  form->SpeedButton8Click();  // cancelled: nothing happens
  EXPECT_EQ(dialogs.shown.size(), before + 1);
  EXPECT_EQ(ProfileFile(file).readString("backup", "enderecobackup"), "");
}

TEST_F(SettingsPageTest, LimparEmptiesTheKeyAndTheField) {
  writeFile(file,
            "[backup]\r\ncaminhobkpmanual=/m/\r\ncaminhobkpmanual2=/x/\r\nenderecobackup=/a/\r\n");
  form->window().setEditText("Edit2", "/a/");
  form->SpeedButton7Click();
  form->SpeedButton2Click();
  form->SpeedButton9Click();
  EXPECT_EQ(readFile(file),
            "[backup]\r\ncaminhobkpmanual=\r\ncaminhobkpmanual2=\r\nenderecobackup=\r\n");
  EXPECT_EQ(form->window().editText("Edit2"), "");
}

TEST_F(SettingsPageTest, StartWithTheDesktopWritesTheAutostartEntry) {
  form->SpeedButton13Click();
  form->SpeedButton13Click();  // again: the same entry
  const std::string entry = readFile(autostartEntryPath("BackUp Dovra"));
  EXPECT_NE(entry.find("Name=BackUp Dovra\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"" + executablePath() + "\"\n"), std::string::npos);
}

TEST_F(SettingsPageTest, AnUnwritableSettingsFileIsReportedByTheHandlerRunner) {
  std::filesystem::remove_all(windowsDir);
  writeFile(windowsDir, "a file where the folder should be");
  form->window().setEditText("MaskEdit1", "10:00", true);
  EXPECT_TRUE(form->runHandler("MaskEdit1Exit"));
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(dialogs.shown.back().text, "Unable to write to " + file + ".");
  EXPECT_EQ(dialogs.shown.back().caption, "BackUpDovra");
}

}  // namespace
}  // namespace dovra
