// The restore dialogue behind "Descompactar": its passes and messages through the main
// window, and its restores against the real Firebird server of the test machine.
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <gtest/gtest.h>
#include <filesystem>
#include <memory>

#include "archive/archive_test_util.h"
#include "firebird/ib_service.h"
#include "fixtures/sample_erp.h"
#include "form/form_test_support.h"
#include "form/restore_dialogue.h"
#include "support/firebird_env.h"
#include "support/program_process.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using K = UiEvent::Kind;
using Lines = std::vector<std::string>;
using test::readFile;
using test::writeFile;

// Every UI event with the number of dialogs shown before it, so that tests can tell what
// the window looked like when each dialog opened.
struct OrderedLog : UiObserver {
  explicit OrderedLog(const test::ScriptedDialogs& d) : dialogs(d) {}
  void onUiEvent(const UiEvent& e) override { steps.push_back({e, dialogs.shown.size()}); }
  struct Step {
    UiEvent event;
    size_t dialogsBefore;
  };
  // Whether memoRestore was visible when dialog `index` opened.
  bool memoVisibleAtDialog(size_t index) const {
    bool visible = false;
    for (const Step& s : steps) {
      if (s.dialogsBefore > index) break;
      if (s.event.kind == K::Control && s.event.name == "memoRestore") visible = s.event.flag;
    }
    return visible;
  }
  // The memo's lines added between dialogs `from` and `to`.
  Lines memoLinesBetween(size_t from, size_t to) const {
    Lines lines;
    for (const Step& s : steps) {
      if (s.dialogsBefore >= from && s.dialogsBefore < to && s.event.kind == K::Memo &&
          s.event.name == "memoRestore") {
        lines.push_back(s.event.text);
      }
    }
    return lines;
  }
  std::vector<bool> cursor() const {
    std::vector<bool> out;
    for (const Step& s : steps) {
      if (s.event.kind == K::Cursor) out.push_back(s.event.flag);
    }
    return out;
  }
  const test::ScriptedDialogs& dialogs;
  std::vector<Step> steps;
};

const std::string kQuestion =
    "message:Processo concluído, deseja realizar o RESTORE da base? (Somente local)";
const std::string kFileDialog = "open:*.fbk";
const std::string kDone = "message:Processo concluído";
// One pass that restores (or tries to) and the question that follows it.
const Lines kPass = {kFileDialog, kDone, kQuestion};

size_t countContaining(const Lines& lines, const std::string& text) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.find(text) != std::string::npos;
  return n;
}

class RestoreDialogue : public test::FormFixture {
 protected:
  RestoreDialogue() : ordered(dialogs) { form->window().setObserver(&ordered); }

  // Presses "Descompactar" with nothing chosen, so that the dialogue runs with `answers`;
  // returns the dialogs shown.
  Lines press(const Lines& answers) {
    dialogs.shown.clear();
    ordered.steps.clear();
    for (const std::string& a : answers) dialogs.answer(a);
    form->runHandler("SpeedButton11Click");
    Lines out;
    for (const auto& s : dialogs.shown) out.push_back(s.kind + ":" + s.text);
    return out;
  }
  static Lines passes(int n) {
    Lines out = {kQuestion};
    for (int i = 0; i < n; ++i) out.insert(out.end(), kPass.begin(), kPass.end());
    return out;
  }

  OrderedLog ordered;
};

TEST_F(RestoreDialogue, WithoutARequestItEndsOrAsksAgain) {
  {
    SCOPED_TRACE("No ends it before any file dialog");
    EXPECT_EQ(press({"no"}), Lines{kQuestion});
    EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Question);
    EXPECT_EQ(dialogs.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(ordered.steps.empty());
  }
  {
    SCOPED_TRACE("a cancelled file dialog sends no request; the pass ends and asks again");
    EXPECT_EQ(press({"yes", "cancel", "ok", "no"}), passes(1));
    EXPECT_EQ(dialogs.shown[1].caption, "Selecione o arquivo para restaurar");
    EXPECT_EQ(dialogs.shown[2].caption, "BackUpDovra");
    EXPECT_EQ(dialogs.shown[2].icon, MessageIcon::Information);
    EXPECT_TRUE(ordered.memoVisibleAtDialog(1));
    EXPECT_FALSE(ordered.memoVisibleAtDialog(2));
    EXPECT_TRUE(ordered.memoLinesBetween(0, 4).empty());
    EXPECT_TRUE(ordered.cursor().empty());
  }
  {
    SCOPED_TRACE("a file that does not exist ends it with the memo shown and empty");
    form->window().memoAdd("memoRestore", "linha de uma vez anterior");
    EXPECT_EQ(press({"yes", (dir.path() / "NAOEXISTE.fbk").string()}),
              (Lines{kQuestion, kFileDialog, "message:Arquivo inválido!"}));
    EXPECT_EQ(dialogs.shown[2].caption, "BackUp Dovra Informática");
    EXPECT_EQ(dialogs.shown[2].icon, MessageIcon::Error);
    EXPECT_TRUE(form->window().controlVisible("memoRestore"));
    EXPECT_TRUE(form->window().memoLines("memoRestore").empty());
    EXPECT_TRUE(ordered.cursor().empty());  // no request was made
  }
}

TEST(RestoredDatabaseName, ReplacesTheLastFourCharactersWhateverTheyAre) {
  EXPECT_EQ(restoredDatabaseName("C:\\a\\backup1"), "C:\\a\\bac.fdb");
  EXPECT_EQ(restoredDatabaseName("/dados/EMPRESA.FBK"), "/dados/EMPRESA.fdb");
  // Counted in characters: accented letters are one character each.
  EXPECT_EQ(restoredDatabaseName("/dados/cópia_ção"), "/dados/cópia.fdb");
  EXPECT_EQ(restoredDatabaseName("/d/çãõé"), "/d/.fdb");
  EXPECT_EQ(restoredDatabaseName("a.fb"), ".fdb");
  EXPECT_EQ(restoredDatabaseName(""), ".fdb");
}

// Without the client library the pass still ends normally, its failure on the memo.
TEST(RestoreDialogueProgram, AMissingClientLibraryIsAnErroLineOfItsPass) {
  test::TempDir dir("restore-nolib");
  const test::Installation inst(dir.path() / "inst", "NOLIB");
  inst.writeStoppingSettings();
  const std::filesystem::path root = inst.root;
  writeFile(root / "EMPRESA.fbk", "backup");
  auto env = inst.env();
  env["DOVRA_FBCLIENT"] = "libfbclient-ausente.so.9";
  test::ProgramProcess p(env);
  ASSERT_GE(p.waitFor({"Caminho do banco não encontrado"}, 15s), 0) << p.allOutput();
  for (const std::string& line : Lines{"answer yes", "answer " + (root / "EMPRESA.fbk").string(),
                                       "answer ok", "SpeedButton11Click"}) {
    p.send(line);
  }
  const int error = p.waitFor({"\"event\":\"memo\"", "memoRestore",
                               "\"line\":\"Erro: InterBase library libfbclient-ausente.so.9 not "
                               "found in the path. Please install InterBase to use this "
                               "functionality\""});
  ASSERT_GE(error, 0) << p.allOutput();
  const int done =
      p.waitFor({"\"event\":\"message\"", "\"text\":\"Processo concluído\""}, 10s, error);
  ASSERT_GT(done, error) << p.allOutput();
  // The memo goes away before the closing message, the failure as after a success.
  const int hidden =
      p.waitFor({"{\"event\":\"control\",\"name\":\"memoRestore\",\"visible\":false}"}, 10s, error);
  EXPECT_GT(hidden, error) << p.allOutput();
  EXPECT_LT(hidden, done) << p.allOutput();
  EXPECT_GT(p.waitFor({"\"event\":\"message\"", "RESTORE da base", "\"answer\":\"no\""}, 10s, done),
            done);
  EXPECT_FALSE(std::filesystem::exists(root / "EMPRESA.fdb"));
  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0);
}

// --- Against the Firebird server --------------------------------------------------------

// A sample ERP and a backup of its main database made by the service client, once for
// the whole program: each test restores copies of it.
struct SampleBackup {
  std::unique_ptr<test::TestErp> erp;
  std::string backupFile;
  std::map<std::string, int64_t> counts;
};

const SampleBackup& sampleBackup(const test::FirebirdEnv& env) {
  static const SampleBackup made = [&] {
    SampleBackup s;
    s.erp = std::make_unique<test::TestErp>(env, [](test::SampleErpOptions& o) {
      o.nfeDatabase = false;
      o.name = "ORIGEM";
    });
    s.backupFile = s.erp->dir().file("ORIGEM.fbk");
    test::backupThroughServer(s.erp->erp().mainFile.string(), s.backupFile, env);
    s.counts = test::sampleRowCounts(s.erp->erp().mainLocation, env);
    return s;
  }();
  return made;
}

class RestoreThroughTheServer : public RestoreDialogue {
 protected:
  void SetUp() override {
    test::useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    form->state().DbUser = env.user;
    form->state().DbPassword = env.password;
    folder = std::make_unique<test::DbTempDir>(env.dbDir, "restore");
  }
  // A copy of the sample backup in this test's folder, under `name`.
  std::string backupCopy(const std::string& name) {
    const std::string path = folder->file(name);
    std::filesystem::copy_file(sampleBackup(env).backupFile, path);
    return path;
  }
  std::map<std::string, int64_t> countsOf(const std::string& database) {
    return test::sampleRowCounts(folder->remote(database), env);
  }
  // The restore pass of dialog `pass` (0-based) ended with one "Erro: " line naming
  // `text`, its last.
  void expectRefusal(size_t pass, const std::string& text) {
    const Lines lines = ordered.memoLinesBetween(2 + 3 * pass, 3 + 3 * pass);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(countContaining(lines, "Erro: "), 1u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.back().rfind("Erro: ", 0), 0u) << lines.back();
    EXPECT_NE(lines.back().find(text), std::string::npos) << lines.back();
  }

  test::FirebirdEnv env;
  std::unique_ptr<test::DbTempDir> folder;
};

TEST_F(RestoreThroughTheServer, ABackupIsRestoredBesideItAsFdbWithEveryRow) {
  EXPECT_EQ(press({"yes", backupCopy("EMPRESA.fbk")}), passes(1));
  EXPECT_EQ(countsOf("EMPRESA.fdb"), sampleBackup(env).counts);
  EXPECT_GT(sampleBackup(env).counts.at("VENDAITEM"), 100);

  // The memo: shown and cleared before the file dialog, the verbose output during the
  // restore with its final empty line, hidden before "Processo concluído".
  EXPECT_TRUE(ordered.memoVisibleAtDialog(1));
  EXPECT_FALSE(ordered.memoVisibleAtDialog(2));
  const Lines lines = ordered.memoLinesBetween(2, 3);
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines.back(), "");
  EXPECT_GE(countContaining(lines, "restoring data for table"), 7u);
  EXPECT_EQ(countContaining(lines, "Erro: "), 0u);
  EXPECT_EQ(ordered.cursor(), (std::vector<bool>{true, false}));
  EXPECT_FALSE(form->IBRestoreService1().Active());
  // The running server made it: it can open it, with the requested page size.
  EXPECT_EQ(test::queryValue(folder->remote("EMPRESA.fdb"), env,
                             "select mon$page_size from mon$database"),
            "8192");
}

TEST_F(RestoreThroughTheServer, AccentedFolderAndFileNames) {
  const test::DbTempDir accented(env.dbDir, "Backup Diário");
  const std::string backup = accented.file("Cópia ação.fbk");
  std::filesystem::copy_file(sampleBackup(env).backupFile, backup);
  EXPECT_EQ(press({"yes", backup}), passes(1));
  EXPECT_EQ(countContaining(ordered.memoLinesBetween(2, 3), "Erro: "), 0u)
      << ::testing::PrintToString(ordered.memoLinesBetween(2, 3));
  EXPECT_EQ(test::sampleRowCounts(accented.remote("Cópia ação.fdb"), env),
            sampleBackup(env).counts);
}

TEST_F(RestoreThroughTheServer,
       ASecondYesRestoresAnotherFileAndExistingDatabasesAreRefusedUntouched) {
  const std::string matriz = backupCopy("MATRIZ.fbk");
  EXPECT_EQ(press({"yes", matriz, "ok", "yes", backupCopy("FILIAL.fbk"), "ok"}), passes(2));
  EXPECT_EQ(countsOf("MATRIZ.fdb"), sampleBackup(env).counts);
  EXPECT_EQ(countsOf("FILIAL.fdb"), sampleBackup(env).counts);
  EXPECT_FALSE(ordered.memoVisibleAtDialog(2));
  EXPECT_FALSE(ordered.memoVisibleAtDialog(5));

  // Another press: MATRIZ.fbk again onto the database just made, then a backup whose
  // target name is taken by a file of the operator's. Both are refused and left as they
  // were.
  const auto matrizSize = std::filesystem::file_size(folder->file("MATRIZ.fdb"));
  const std::string operatorFile = "not a database, but the operator's file\n";
  writeFile(folder->file("OUTRA.fdb"), operatorFile);
  const auto outraTime = std::filesystem::last_write_time(folder->file("OUTRA.fdb"));
  EXPECT_EQ(press({"yes", matriz, "ok", "yes", backupCopy("OUTRA.fbk"), "ok"}), passes(2));
  // Each pass: the server's first lines, then its refusal as the one "Erro: " line (no
  // final empty line: the output ended with the failure); the memo is hidden before
  // "Processo concluído" as after a success, and the next pass clears it.
  expectRefusal(0, folder->file("MATRIZ.fdb"));
  expectRefusal(0, "already exists");
  expectRefusal(1, folder->file("OUTRA.fdb"));
  EXPECT_FALSE(ordered.memoVisibleAtDialog(2));
  EXPECT_FALSE(ordered.memoVisibleAtDialog(5));
  // The server looks into an existing database before it refuses (an attachment, which
  // updates the header page's counters), so the database is compared by its content.
  EXPECT_EQ(std::filesystem::file_size(folder->file("MATRIZ.fdb")), matrizSize);
  EXPECT_EQ(countsOf("MATRIZ.fdb"), sampleBackup(env).counts);
  EXPECT_EQ(readFile(folder->file("OUTRA.fdb")), operatorFile);
  EXPECT_EQ(std::filesystem::last_write_time(folder->file("OUTRA.fdb")), outraTime);
  EXPECT_FALSE(form->window().controlVisible("memoRestore"));
  EXPECT_EQ(form->window().memoLines("memoRestore"), ordered.memoLinesBetween(5, 6));
  EXPECT_EQ(ordered.cursor(), (std::vector<bool>{true, false, true, false}));
  EXPECT_FALSE(form->IBRestoreService1().Active());
}

// A server that answers and refuses is the outcome: the restore does not go round it
// through the embedded engine.
TEST_F(RestoreThroughTheServer, RefusedCredentialsAndADamagedBackupEndTheirPassWithAnErroLine) {
  form->state().DbPassword = env.password + "-errada";
  EXPECT_EQ(press({"yes", backupCopy("EMPRESA.fbk"), "ok"}), passes(1));
  expectRefusal(0, "password");
  EXPECT_EQ(ordered.memoLinesBetween(2, 3).size(), 1u);
  EXPECT_FALSE(ordered.memoVisibleAtDialog(2));
  EXPECT_FALSE(std::filesystem::exists(folder->file("EMPRESA.fdb")));
  EXPECT_EQ(ordered.cursor(), (std::vector<bool>{true, false}));

  form->state().DbPassword = env.password;
  writeFile(folder->file("DANIFICADO.fbk"), test::pattern(50000, 9));
  EXPECT_EQ(press({"yes", folder->file("DANIFICADO.fbk"), "ok"}), passes(1));
  expectRefusal(0, "");
  EXPECT_FALSE(std::filesystem::exists(folder->file("DANIFICADO.fdb")));
  EXPECT_FALSE(form->IBRestoreService1().Active());
}

// The loopback server first; the local manager (this process's embedded engine) only
// when nothing answers there.
TEST_F(RestoreThroughTheServer, TheLocalManagerIsUsedOnlyWhenNoServerAnswersOnLoopback) {
  TIBRestoreService service;
  service.LoginPrompt = false;
  service.Params.SetValue("user_name", env.user);
  service.Params.SetValue("password", env.password);
  attachToLocalServer(service);
  EXPECT_EQ(service.Protocol, TProtocol::TCP);
  EXPECT_EQ(service.ServiceManagerName(), "localhost:service_mgr");
  EXPECT_TRUE(service.Active());
  service.Detach();

  // Port 1 of loopback: nothing listens there.
  test::TempDir own("embedded-restore");
  const std::string backup = own.file("LOCAL.fbk");
  std::filesystem::copy_file(sampleBackup(env).backupFile, backup);
  service.Verbose = true;
  service.PageSize = 8192;
  service.BackupFile.Add(backup);
  service.DatabaseName.Add(restoredDatabaseName(backup));
  attachToLocalServer(service, "localhost/1");
  EXPECT_EQ(service.Protocol, TProtocol::Local);
  EXPECT_EQ(service.ServiceManagerName(), "service_mgr");
  ASSERT_TRUE(service.Active());
  service.ServiceStart();
  Lines lines;
  while (!service.OutputFinished()) lines.push_back(service.ReadOutputLine());
  service.Detach();
  EXPECT_GE(countContaining(lines, "restoring data for table"), 7u);
  // The embedded engine made the file as this process's user.
  struct stat st {};
  ASSERT_EQ(::stat(own.file("LOCAL.fdb").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(test::sampleRowCounts(own.file("LOCAL.fdb"), env), sampleBackup(env).counts);

  // A refusal on loopback is final: wrong credentials do not fall back.
  TIBRestoreService refused;
  refused.Params.SetValue("user_name", env.user);
  refused.Params.SetValue("password", env.password + "-errada");
  EXPECT_THROW(attachToLocalServer(refused), EIBError);
  EXPECT_EQ(refused.Protocol, TProtocol::TCP);
  EXPECT_FALSE(refused.Active());
}

}  // namespace
}  // namespace dovra
