#include "form/form_test_support.h"

#include <sys/stat.h>

#include <filesystem>

#include "platform/instance_lock.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using test::FormFixture;

TEST_F(FormFixture, IdentifierIsUnscrambledAndTheSchedulerSwitchedOn) {
  writeIdentifier("LOJA CENTRO ");
  form->FormCreate();
  EXPECT_EQ(form->state().InstallationId, "LOJA CENTRO ");  // blanks kept
  EXPECT_EQ(form->state().ProgramVersion, 13);
  EXPECT_TRUE(form->Timer1.enabled());
  EXPECT_EQ(form->window().hint(), "Aguarde o sistema está sendo inicializado");
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(loop.exiting());
}

TEST_F(FormFixture, MissingIdentifierFileRunsAsBkpdovraWithoutGuardOrScheduler) {
  form->FormCreate();
  EXPECT_EQ(form->state().InstallationId, "BKPDOVRA");
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
  EXPECT_EQ(dialogs.shown[0].text, "File not found.");
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Error);
  EXPECT_FALSE(form->Timer1.enabled());
  // No guard was taken: the lock of that name is free.
  InstanceLock::Outcome outcome;
  auto lock = InstanceLock::acquire("BKPDOVRABKPDOVRA", outcome);
  EXPECT_EQ(outcome, InstanceLock::Outcome::Acquired);
}

TEST_F(FormFixture, EmptyIdentifierFileGivesAnEmptyIdentifier) {
  test::writeFile(programDir / "CONFIGURACAO" / "application.dvk", "");
  form->FormCreate();
  EXPECT_EQ(form->state().InstallationId, "");
  EXPECT_TRUE(form->Timer1.enabled());
  EXPECT_EQ(settingsFilePath(form->state().InstallationId), settingsPath(""));
}

TEST_F(FormFixture, GarbledIdentifierIsTakenAsItsBytesWithoutCrashing) {
  std::string garbage;
  for (int b = 1; b < 256; ++b) {
    if (b != '\r' && b != '\n' && b != 0x1A) garbage += static_cast<char>(b);
  }
  test::writeFile(programDir / "CONFIGURACAO" / "application.dvk", garbage + "\n\x00\x01");
  form->FormCreate();
  EXPECT_EQ(utf8ToCp1252(form->state().InstallationId), cripto(garbage, 1));
  EXPECT_TRUE(form->Timer1.enabled());
}

TEST_F(FormFixture, SecondInstanceOfOneIdentifierSaysSoAndEnds) {
  writeIdentifier("FILIAL");
  InstanceLock::Outcome outcome;
  auto first = InstanceLock::acquire("FILIALBKPDOVRA", outcome);
  ASSERT_EQ(outcome, InstanceLock::Outcome::Acquired);
  form->FormCreate();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "Atenção!");
  EXPECT_EQ(dialogs.shown[0].text, "Este programa já está aberto !");
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::None);
  EXPECT_TRUE(loop.exiting());
  EXPECT_EQ(loop.run(), 2);
  EXPECT_FALSE(form->Timer1.enabled());
}

TEST(ReadFirstLine, StopsAtTheFirstLineEndAndReportsMissingFiles) {
  test::TempDir dir;
  test::writeFile(dir.file("a"), "  abc \rdef");
  EXPECT_EQ(readFirstLine(dir.file("a")), "  abc ");
  test::writeFile(dir.file("b"), "x\x1Ay\n");
  EXPECT_EQ(readFirstLine(dir.file("b")), "x");
  EXPECT_EQ(test::errorText<EInOutError>([&] { readFirstLine(dir.file("missing")); }),
            "File not found");
}

// An identifier file that never ends its first line (a link to /dev/zero, a huge file, a
// pipe) is reported as bad instead of being read until memory runs out or forever.
TEST(ReadFirstLine, EndlessOrNonRegularFilesAreReportedAsBad) {
  test::TempDir dir;
  std::filesystem::create_symlink("/dev/zero", dir.file("zero"));
  EXPECT_EQ(test::errorText<EInOutError>([&] { readFirstLine(dir.file("zero")); }),
            "Invalid file format");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(test::errorText<EInOutError>([&] { readFirstLine(dir.file("fifo")); }),
            "Invalid file format");
  test::writeFile(dir.file("long"), std::string(kMaxIdentifierLine + 1, 'a') + "\r\n");
  EXPECT_EQ(test::errorText<EInOutError>([&] { readFirstLine(dir.file("long")); }),
            "Invalid file format");
  test::writeFile(dir.file("limit"), std::string(kMaxIdentifierLine, 'a') + "\r\n");
  EXPECT_EQ(readFirstLine(dir.file("limit")).size(), kMaxIdentifierLine);
}

TEST_F(FormFixture, IdentifierFileLinkedToDevZeroIsReportedAndStartUpGoesOn) {
  std::filesystem::create_symlink("/dev/zero", programDir / "CONFIGURACAO" / "application.dvk");
  form->FormCreate();
  EXPECT_EQ(form->state().InstallationId, "BKPDOVRA");
  ASSERT_EQ(dialogs.messages().size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Invalid file format.");
  EXPECT_FALSE(form->Timer1.enabled());
}

}  // namespace
}  // namespace dovra
