// The automatic backup end to end (both service passes and the archive, through Tauto)
// against Firebird's fbsvcmgr backing up the same two databases followed by `gzip -6` of
// the two backup files, in the same run. Prints the medians and the ratios: Tauto with one
// deflate thread (target <= 1.05) and with parallel deflate (target <= 0.8).
//
// Usage: build/bench/automatic_backup [--size-mb N] [--runs N]
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD (scripts/test
// sets them; or source scripts/lib/firebird.sh and call start_firebird). The sample ERP is
// made once with dovra-sample-erp and kept in $DOVRA_TEST_DB_DIR (or /var/tmp).
#include <unistd.h>

#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "backup/automatic_backup.h"
#include "platform/posix_event_loop.h"
#include "shell/form1.h"
#include "support/fakes.h"

namespace {

using dovra::bench::envOr;
using dovra::bench::median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  int sizeMb = 200;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mb") == 0) sizeMb = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string user = envOr("DOVRA_TEST_FB_USER", "");
  const std::string password = envOr("DOVRA_TEST_FB_PASSWORD", "");
  if (user.empty()) {
    std::cerr << "automatic_backup: set DOVRA_TEST_FB_USER and DOVRA_TEST_FB_PASSWORD "
                 "(source scripts/lib/firebird.sh and call start_firebird)\n";
    return 2;
  }

  const fs::path dir = fs::path(envOr("DOVRA_TEST_DB_DIR", "/var/tmp")) /
                       ("bench-automatic-backup-" + std::to_string(sizeMb) + "mb");
  const fs::path ready = dir / "ERP.ready";
  if (!fs::exists(ready)) {
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    const fs::path maker =
        fs::canonical("/proc/self/exe").parent_path().parent_path() / "dovra-sample-erp";
    std::cout << "making a " << sizeMb << " MB sample ERP in " << dir << " ..." << std::endl;
    if (dovra::bench::runProcess({maker.string(), "database", "--dir", dir.string(), "--size-mb",
                                  std::to_string(sizeMb), "--unsent-nfe", "2000", "--replace",
                                  "--user", user, "--password", password}) != 0) {
      std::cerr << "automatic_backup: the sample ERP could not be made\n";
      return 1;
    }
    std::ofstream(ready) << sizeMb << "\n";
  }
  const fs::path mainDb = dir / "ERP.fdb";
  const fs::path nfeDb = dir / "ERP_NFE.fdb";
  const fs::path out = dir / "out";
  fs::create_directories(out);
  fs::permissions(out, fs::perms::all);
  std::printf("databases: %ju MB + %ju MB\n", static_cast<uintmax_t>(fs::file_size(mainDb) >> 20),
              static_cast<uintmax_t>(fs::file_size(nfeDb) >> 20));

  dovra::PosixEventLoop loop;
  dovra::test::ScriptedDialogs dialogs;
  dovra::test::ManualClock clock;
  dovra::TForm1 form(loop, dialogs, clock);
  dovra::RunState& s = form.state();
  s.DatabasePath = "localhost:" + mainDb.string();
  s.DatabaseBaseName = "ERP";
  s.NfeDatabasePath = "localhost:" + nfeDb.string();
  s.NfeDatabaseBaseName = "ERP_NFE";
  s.NfeEnabled = true;
  s.DbUser = user;
  s.DbPassword = password;
  s.LocalRemote = "L";
  s.BackupFolder = out.string() + "/";

  const auto tauto = [&](unsigned workers) {
    s.BackupRunning.set(true);
    const auto start = Clock::now();
    dovra::Tauto(form, s.snapshot(), workers).Execute();
    const double t = dovra::bench::secondsSince(start);
    loop.processEvents();
    if (form.window().labelText("lbStatus") != "Backup realizado com sucesso") {
      std::cerr << "automatic_backup: the run failed: " << form.window().labelText("lbStatus")
                << "\n";
      std::exit(1);
    }
    return t;
  };
  const auto reference = [&] {
    const auto start = Clock::now();
    for (const auto& [db, fbk] :
         {std::pair{mainDb, out / "ref_main.fbk"}, std::pair{nfeDb, out / "ref_nfe.fbk"}}) {
      fs::remove(fbk);
      if (dovra::bench::runProcess(
              {"fbsvcmgr", "localhost:service_mgr", "-user", user, "-password", password,
               "action_backup", "dbname", db.string(), "bkp_file", fbk.string(), "verbose"},
              (out / "fbsvcmgr.out").string()) != 0) {
        std::cerr << "automatic_backup: fbsvcmgr failed\n";
        std::exit(1);
      }
    }
    for (const char* f : {"ref_main.fbk", "ref_nfe.fbk"}) {
      fs::remove(out / (std::string(f) + ".gz"));
      if (dovra::bench::runProcess({"gzip", "-6", (out / f).string()}) != 0) {
        std::cerr << "automatic_backup: gzip failed\n";
        std::exit(1);
      }
    }
    return dovra::bench::secondsSince(start);
  };

  std::vector<double> single, parallel, ref;
  for (int i = 0; i < runs; ++i) {
    ref.push_back(reference());
    single.push_back(tauto(1));
    parallel.push_back(tauto(0));
    std::printf(
        "run %d: fbsvcmgr + gzip -6 %.3f s, Tauto 1 thread %.3f s, Tauto all cores %.3f s\n", i + 1,
        ref.back(), single.back(), parallel.back());
  }
  const auto archive = fs::file_size(out / "ERP.zlib");
  const auto gz = fs::file_size(out / "ref_main.fbk.gz") + fs::file_size(out / "ref_nfe.fbk.gz");
  std::printf("archive %ju bytes, gzip files %ju bytes\n", static_cast<uintmax_t>(archive),
              static_cast<uintmax_t>(gz));
  std::printf("median: reference %.3f s, Tauto 1 thread %.3f s, Tauto all cores %.3f s\n",
              median(ref), median(single), median(parallel));
  std::printf("ratio Tauto (1 thread) / reference: %.3f (target <= 1.05)\n",
              median(single) / median(ref));
  std::printf("ratio Tauto (all cores) / reference: %.3f (target <= 0.80)\n",
              median(parallel) / median(ref));
  fs::remove_all(out);
  return 0;
}
