// The real program, headless, against the real server: the start, the retries, and both
// backups driven through standard input.
#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>

#include "archive/archive_reader.h"
#include "support/firebird_env.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::ProgramProcess;

class HeadlessDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    test::useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    home = std::make_unique<test::DbTempDir>(env.dbDir, "app");
    inst = std::make_unique<test::Installation>(home->path() / "inst", "LOJA");
    for (const char* d : {"bkp", "manual"}) {
      std::filesystem::create_directories(home->path() / d);
      std::filesystem::permissions(home->path() / d, std::filesystem::perms::all);
    }
  }
  void writeSettings(const test::SampleErp& erp, const std::string& password) {
    test::SampleSettings s;
    s.database = erp.mainLocation;
    s.nfeDatabase = erp.nfeLocation;
    s.user = env.user;
    s.password = password;
    s.backup = {{"enderecobackup", (home->path() / "bkp").string() + "/"},
                {"caminhobkpmanual", (home->path() / "manual").string() + "/"},
                {"localremoto", "L"},
                {"tempo1", "09:30"}};
    test::writeSettingsFile(inst->settings, s);
  }
  test::FirebirdEnv env;
  std::unique_ptr<test::DbTempDir> home;
  std::unique_ptr<test::Installation> inst;
};

TEST_F(HeadlessDatabase, WrongPasswordKeepsRetryingAndSigtermStillEndsTheProgram) {
  const test::TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  writeSettings(sample.erp(), "not-the-password");
  ProgramProcess p(inst->env());
  std::this_thread::sleep_for(7s);  // the first attempt after 2 s, then every 2 s
  EXPECT_TRUE(p.running());
  EXPECT_EQ(p.waitFor({"\"event\":\"menu\"", "PopupMenu1"}, 10ms), -1) << p.allOutput();
  EXPECT_EQ(p.waitFor({"\"event\":\"message\""}, 10ms), -1) << p.allOutput();
  p.send("CoolTrayIcon1DblClick");
  EXPECT_GE(p.waitFor({"\"event\":\"balloon\"", "Aguarde o sistema"}), 0);
  p.signal(SIGTERM);
  EXPECT_EQ(p.waitExit(10s), 0) << p.allOutput();
}

TEST_F(HeadlessDatabase, AutomaticAndManualBackupsDrivenThroughStandardInput) {
  // The NF-e export's local copies go below the test's folder, not the ERP's default.
  const test::TestErp sample(env, [this](test::SampleErpOptions& o) {
    o.parendexes = (home->path() / "erp").string() + "/";
  });
  writeSettings(sample.erp(), env.password);
  ProgramProcess p(inst->env());
  ASSERT_GE(p.waitFor({"\"event\":\"menu\"", "PopupMenu1", "true"}, 30s), 0) << p.allOutput();
  EXPECT_GE(p.waitFor({"\"event\":\"hint\"", "Empresa: "}), 0);

  p.send("SpeedButton4Click");  // hidden until "LOG" is double-clicked
  EXPECT_GE(p.waitFor({"\"event\":\"ignored\"", "SpeedButton4Click"}), 0);
  p.send("Label8DblClick");
  p.send("SpeedButton4Click");
  const int done = p.waitFor({"\"name\":\"lbDiretorio\""}, 60s);
  ASSERT_GE(done, 0) << p.allOutput();
  // The run ends by clearing the memo; the busy flag goes down just after it, and a click
  // that comes while it is still up is ignored.
  ASSERT_GE(p.waitFor({"\"event\":\"memo_clear\"", "MemoBackup"}, 10s, done), 0);
  std::this_thread::sleep_for(1s);
  const std::string bkp = (home->path() / "bkp").string();
  EXPECT_EQ(listArchive(bkp + "/ERP.zlib").size(), 2u);

  p.send("spbBackupClick");
  ASSERT_GE(p.waitFor({"\"event\":\"message\"", "Cópia realizada com sucesso!"}, 60s, done), 0)
      << p.allOutput();
  ASSERT_GE(p.waitFor({"\"event\":\"hint\"", "Backup do dia realizado com sucesso"}, 10s), 0);
  size_t archives = 0;
  for (const auto& f : std::filesystem::directory_iterator(home->path() / "manual")) {
    EXPECT_EQ(f.path().extension(), ".zlib");
    EXPECT_EQ(listArchive(f.path().string()).size(), 2u);
    ++archives;
  }
  EXPECT_EQ(archives, 1u);

  p.send("Sair1Click");
  EXPECT_EQ(p.waitExit(10s), 0);
}

}  // namespace
}  // namespace dovra
