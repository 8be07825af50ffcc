// The unpack page driven through the main window: choosing the archive, the "Descompactar"
// button with its two labels, its failures and the hand-over to the restore question.
#include <gtest/gtest.h>
#include <filesystem>

#include "archive/archive_test_util.h"
#include "archive/archive_writer.h"
#include "form/form_test_support.h"
#include "form/unpack_page.h"

namespace dovra {
namespace {

using K = UiEvent::Kind;
using test::readFile;
using test::writeFile;

constexpr const char* kRestoreQuestion =
    "Processo concluído, deseja realizar o RESTORE da base? (Somente local)";

class UnpackPage : public test::FormFixture {
 protected:
  UnpackPage() : inputs(dir.path() / "inputs"), backups(dir.path() / "backups") {
    std::filesystem::create_directories(inputs);
    std::filesystem::create_directories(backups);
  }

  // Packs the given (name, content) files into backups/<archive> with the real writer.
  std::string pack(const std::string& archive,
                   const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> paths;
    for (const auto& [name, content] : files) {
      writeFile(inputs / name, content);
      paths.push_back((inputs / name).string());
    }
    const std::string path = (backups / archive).string();
    CompressFiles(paths, path);
    return path;
  }

  std::vector<std::string> labelTexts(const std::string& name) const {
    std::vector<std::string> texts;
    for (const UiEvent& e : log.of(K::Label)) {
      if (e.name == name) texts.push_back(e.text);
    }
    return texts;
  }

  std::vector<std::string> shownKinds() const {
    std::vector<std::string> kinds;
    for (const auto& s : dialogs.shown) kinds.push_back(s.kind + ":" + s.text);
    return kinds;
  }

  std::filesystem::path inputs, backups;
};

TEST_F(UnpackPage, ChoosingTheArchiveShowsItsPathOrSaysInvalid) {
  const std::string archive = pack("EMPRESA.zlib", {{"EMPRESA.fbk", "dados"}});
  dialogs.answer(archive);
  ASSERT_TRUE(form->runHandler("SpeedButton10Click"));
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].kind, "open");
  EXPECT_EQ(dialogs.shown[0].caption, "Selecione o arquivo de backup");
  EXPECT_EQ(dialogs.shown[0].text, "*.zlib");
  EXPECT_EQ(form->window().editText("Edit3"), archive);
  const auto edits = log.of(K::Edit);
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_EQ(edits[0].name, "Edit3");

  // Cancelling changes nothing.
  const size_t before = log.events.size();
  dialogs.answer("cancel");
  form->runHandler("SpeedButton10Click");
  EXPECT_EQ(form->window().editText("Edit3"), archive);
  EXPECT_EQ(log.events.size(), before);

  // A name that does not exist, or a folder: "Arquivo inválido!", and Edit3 emptied.
  for (const std::filesystem::path& chosen : {backups / "NAOEXISTE.zlib", backups}) {
    SCOPED_TRACE(chosen);
    form->window().setEditText("Edit3", archive);
    dialogs.shown.clear();
    dialogs.answer(chosen.string());
    form->runHandler("SpeedButton10Click");
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, "message");
    EXPECT_EQ(dialogs.shown[1].caption, "BackUp Dovra Informática");
    EXPECT_EQ(dialogs.shown[1].text, "Arquivo inválido!");
    EXPECT_EQ(dialogs.shown[1].icon, MessageIcon::Error);
    EXPECT_EQ(dialogs.shown[1].buttons, MessageButtons::Ok);
    EXPECT_EQ(form->window().editText("Edit3"), "");
  }
}

// --- Unpacking ------------------------------------------------------------------------

TEST_F(UnpackPage, TwoEntriesUnpackIntoTheArchiveFolderWithTheCounterThenTheRestoreQuestion) {
  // The first entry spans several 65,536-byte blocks of the archive.
  const std::string big = test::pattern(300000, 7);
  const std::string small = "PARGERAL;1;\r\n";
  const std::string archive = pack("EMPRESA.zlib", {{"EMPRESA.fbk", big}, {"NFE.fbk", small}});
  form->window().setEditText("Edit3", archive);
  // An old file of an entry's name is replaced.
  writeFile(backups / "NFE.fbk", "old content, longer than the new one");

  ASSERT_TRUE(form->runHandler("SpeedButton11Click"));

  EXPECT_EQ(
      labelTexts("lbDecompress"),
      (std::vector<std::string>{"Descomprimindo: 1 de 2", "Descomprimindo: 2 de 2", "Concluído"}));
  EXPECT_TRUE(test::sameBytes(readFile(backups / "EMPRESA.fbk"), big));
  EXPECT_TRUE(test::sameBytes(readFile(backups / "NFE.fbk"), small));
  EXPECT_EQ(test::namesIn(backups),
            (std::vector<std::string>{"EMPRESA.fbk", "EMPRESA.zlib", "NFE.fbk"}));

  // The percentage: the first event of each entry shows 0; the big entry shows several
  // values, rising, none above 100; every value is a whole number without a sign.
  const std::vector<std::string> percents = labelTexts("lbStatusDecompres");
  ASSERT_GE(percents.size(), 4u);
  EXPECT_EQ(percents.front(), "0");
  std::vector<int> values;
  for (const std::string& p : percents) {
    ASSERT_FALSE(p.empty());
    ASSERT_EQ(p.find_first_not_of("0123456789"), std::string::npos) << p;
    values.push_back(std::stoi(p));
  }
  EXPECT_EQ(values.back(), 0);  // the small entry's only block
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end() - 1));
  EXPECT_GT(values[values.size() - 2], 0);
  EXPECT_LE(*std::max_element(values.begin(), values.end()), 100);
  EXPECT_EQ(form->CurrentEntrySize, static_cast<int64_t>(small.size()));

  // Then the restore question (its dialogue has tests of its own), which the default
  // answer (No) ends.
  EXPECT_EQ(shownKinds(), std::vector<std::string>{"message:" + std::string(kRestoreQuestion)});
  EXPECT_FALSE(form->window().controlVisible("memoRestore"));
}

TEST_F(UnpackPage, NothingChosenOrNoEntriesGoesToTheRestoreQuestion) {
  // Nothing chosen, or a path whose file has gone since it was chosen: no unpacking, no
  // message, straight to the question.
  for (const std::string& chosen : {std::string(), (backups / "APAGADO.zlib").string()}) {
    SCOPED_TRACE(chosen);
    form->window().setEditText("Edit3", chosen);
    dialogs.shown.clear();
    log.events.clear();
    form->runHandler("SpeedButton11Click");
    EXPECT_TRUE(log.of(K::Label).empty());
    EXPECT_EQ(shownKinds(), std::vector<std::string>{"message:" + std::string(kRestoreQuestion)});
  }

  // An archive of no entries shows "Concluído" alone.
  writeFile(backups / "VAZIO.zlib", test::le32(0));
  form->window().setEditText("Edit3", (backups / "VAZIO.zlib").string());
  dialogs.shown.clear();
  form->runHandler("SpeedButton11Click");
  EXPECT_EQ(labelTexts("lbDecompress"), std::vector<std::string>{"Concluído"});
  EXPECT_TRUE(labelTexts("lbStatusDecompres").empty());
  EXPECT_EQ(test::namesIn(backups), std::vector<std::string>{"VAZIO.zlib"});
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{kRestoreQuestion});
}

// The reader's failures and their texts have tests of their own; here how one reaches the
// window.
TEST_F(UnpackPage, AFailureReachesTheErrorReportAndNoRestoreIsOffered) {
  const std::string first = test::repetitiveBytes(5000, 3);
  std::string bytes = test::buildArchive(
      {test::entryOf("PRIMEIRO.fbk", first), test::entryOf("SEGUNDO.fbk", test::pattern(9000, 4))});
  bytes.resize(bytes.size() - 100);  // the second entry's stream is cut short
  writeFile(backups / "CORTADO.zlib", bytes);
  form->window().setEditText("Edit3", (backups / "CORTADO.zlib").string());

  ASSERT_TRUE(form->runHandler("SpeedButton11Click"));
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
  EXPECT_EQ(dialogs.shown[0].text, "Stream read error.");
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Error);
  // The labels stay where the failure left them; the complete entry is on disk.
  EXPECT_EQ(labelTexts("lbDecompress").back(), "Descomprimindo: 2 de 2");
  EXPECT_TRUE(test::sameBytes(readFile(backups / "PRIMEIRO.fbk"), first));
  EXPECT_FALSE(std::filesystem::exists(backups / "SEGUNDO.fbk"));
  EXPECT_TRUE(log.of(K::Control).empty());  // memoRestore never shown
}

// A file of an entry's name that may not be written is not replaced: the unpacking stops
// with "Cannot create file", as for a file that cannot be created.
TEST_F(UnpackPage, AReadOnlyFileOrAFolderOfAnEntrysNameStopsTheUnpackingUntouched) {
  const std::string archive =
      pack("EMPRESA.zlib", {{"EMPRESA.fbk", "novo principal"}, {"NFE.fbk", "nova nfe"}});
  const std::filesystem::path kept = backups / "NFE.fbk";
  writeFile(kept, "the operator's protected copy");
  std::filesystem::permissions(kept, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  form->window().setEditText("Edit3", archive);

  ASSERT_TRUE(form->runHandler("SpeedButton11Click"));
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
  EXPECT_EQ(dialogs.shown[0].text,
            "Cannot create file \"" + kept.string() + "\". Permission denied.");
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Error);
  EXPECT_EQ(readFile(kept), "the operator's protected copy");
  EXPECT_EQ(std::filesystem::status(kept).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  EXPECT_EQ(readFile(backups / "EMPRESA.fbk"), "novo principal");
  EXPECT_EQ(labelTexts("lbDecompress").back(), "Descomprimindo: 2 de 2");
  EXPECT_EQ(test::namesIn(backups),
            (std::vector<std::string>{"EMPRESA.fbk", "EMPRESA.zlib", "NFE.fbk"}));

  // A folder of that name: the same stop, the folder left as it is.
  std::filesystem::remove(kept);
  std::filesystem::create_directory(kept);
  dialogs.shown.clear();
  ASSERT_TRUE(form->runHandler("SpeedButton11Click"));
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Cannot create file \"" + kept.string() + "\". Is a directory.");
  EXPECT_TRUE(std::filesystem::is_directory(kept));
}

// DecompressionProgress lets the window process its messages, so other events run in the
// middle of an unpacking; a second press of the page's buttons meanwhile is ignored.
TEST_F(UnpackPage, TheWindowRunsDuringAnUnpackingButThePageButtonsWaitForItsEnd) {
  const std::string archive =
      pack("EMPRESA.zlib", {{"A.fbk", test::pattern(200000, 11)}, {"B.fbk", "b"}});
  form->window().setEditText("Edit3", archive);
  std::string labelDuringUnpack;
  bool secondPressRan = false;
  loop.post([&] {
    labelDuringUnpack = form->window().labelText("lbDecompress");
    secondPressRan =
        form->runHandler("SpeedButton11Click") && form->runHandler("SpeedButton10Click");
  });
  form->runHandler("SpeedButton11Click");

  EXPECT_EQ(labelDuringUnpack, "Descomprimindo: 1 de 2");
  EXPECT_TRUE(secondPressRan);
  EXPECT_EQ(
      labelTexts("lbDecompress"),
      (std::vector<std::string>{"Descomprimindo: 1 de 2", "Descomprimindo: 2 de 2", "Concluído"}));
  // One restore question, from the first press only; no file dialog.
  EXPECT_EQ(shownKinds(), std::vector<std::string>{"message:" + std::string(kRestoreQuestion)});

  // Once the press is over, the buttons answer again.
  dialogs.answer("cancel");
  form->runHandler("SpeedButton10Click");
  EXPECT_EQ(dialogs.shown.back().kind, "open");
}

TEST_F(UnpackPage, AnExitDuringTheUnpackingLetsItCompleteAndOffersNoRestore) {
  const std::string first = test::pattern(200000, 12);
  const std::string archive = pack("EMPRESA.zlib", {{"A.fbk", first}, {"B.fbk", "b"}});
  form->window().setEditText("Edit3", archive);
  form->window().setMenuAttached(true);
  loop.post([&] { form->runHandler("Sair1Click"); });
  form->runHandler("SpeedButton11Click");
  EXPECT_TRUE(loop.exiting());
  EXPECT_EQ(labelTexts("lbDecompress").back(), "Concluído");
  EXPECT_TRUE(test::sameBytes(readFile(backups / "A.fbk"), first));
  EXPECT_EQ(readFile(backups / "B.fbk"), "b");
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST(ArchiveFolderPart, EndsAtTheLastSlashBackslashOrColon) {
  EXPECT_EQ(archiveFolderPart("/srv/backup/EMPRESA.zlib"), "/srv/backup/");
  EXPECT_EQ(archiveFolderPart("C:\\Dovra\\Backup\\EMPRESA.zlib"), "C:\\Dovra\\Backup\\");
  EXPECT_EQ(archiveFolderPart("D:EMPRESA.zlib"), "D:");
  EXPECT_EQ(archiveFolderPart("/srv/a:b/EMPRESA.zlib"), "/srv/a:b/");
  EXPECT_EQ(archiveFolderPart("EMPRESA.zlib"), "");
  EXPECT_EQ(archiveFolderPart(""), "");
}

}  // namespace
}  // namespace dovra
