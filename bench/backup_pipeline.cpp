// The automatic backup (Tauto) and the manual backup end to end, each backing up the main
// and the NF-e database through the server and packing the files while the server writes
// them, against Firebird's fbsvcmgr backing up the same two databases, alone and followed by
// `gzip -6` of the two backup files, in the same run. Prints the medians, both ratios for each
// job (targets: <= 0.55 of fbsvcmgr + gzip -6, <= 1.15 of fbsvcmgr alone) and the peak
// resident memory of the job (target < 32 MB).
//
// Usage: build/bench/backup_pipeline [--size-mb N] [--runs N]
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD (scripts/test
// sets them; or source scripts/lib/firebird.sh and call start_firebird). The sample ERP
// (sales rows of text, numbers and dates; NF-e documents with their XML) is made once with
// dovra-sample-erp and kept in $DOVRA_TEST_DB_DIR (or /var/tmp).
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
#include "form/backup_workers.h"
#include "form/form1.h"
#include "platform/posix_event_loop.h"
#include "support/fakes.h"
#include "support/program_process.h"

namespace {

using dovra::bench::envOr;
using dovra::bench::median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& why) {
  std::cerr << "backup_pipeline: " << why << "\n";
  std::exit(1);
}

struct Job {
  std::vector<double> seconds;
  long peakKb = 0;
};

void report(const char* name, const Job& job, double reference, double serverAlone) {
  const double t = median(job.seconds);
  std::printf("%s: median %.3f s, peak resident %.1f MB (target < 32)\n", name, t,
              static_cast<double>(job.peakKb) / 1024);
  std::printf("  ratio %s / (fbsvcmgr + gzip -6): %.3f (target <= 0.55)\n", name, t / reference);
  std::printf("  ratio %s / fbsvcmgr alone:       %.3f (target <= 1.15)\n", name, t / serverAlone);
}

}  // namespace

int main(int argc, char** argv) {
  const auto args = dovra::bench::sampleArgs(argc, argv, "backup_pipeline");
  const int runs = args.runs;
  const std::string& user = args.user;
  const std::string& password = args.password;
  const fs::path dir =
      dovra::bench::sampleErpFolder(args, "bench-backup", {"--unsent-nfe", "2000"});
  const fs::path mainDb = dir / "ERP.fdb";
  const fs::path nfeDb = dir / "ERP_NFE.fdb";
  const fs::path out = dir / "out";
  const fs::path manual = dir / "manual";
  const fs::path home = dir / "home";
  fs::remove_all(out);
  fs::remove_all(manual);
  for (const fs::path& p : {out, manual, home / "windows", home / "program" / "CONFIGURACAO"}) {
    fs::create_directories(p);
    fs::permissions(p, fs::perms::all);
  }
  std::printf("databases: %ju MB + %ju MB\n", static_cast<uintmax_t>(fs::file_size(mainDb) >> 20),
              static_cast<uintmax_t>(fs::file_size(nfeDb) >> 20));

  // An installation of its own: the identifier and a settings file naming the manual folder.
  setenv("DOVRA_WINDOWS_DIR", (home / "windows").c_str(), 1);
  setenv("DOVRA_PROGRAM_DIR", (home / "program").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
  setenv("DOVRA_INSTANCE_SCOPE", home.c_str(), 1);
  std::ofstream(home / "program" / "CONFIGURACAO" / "application.dvk", std::ios::binary)
      << dovra::test::scramble("BENCH") << "\r\n";
  std::ofstream(home / "windows" / "BENCH.dvk", std::ios::binary)
      << "[backup]\r\ncaminhobkpmanual=" << manual.string() << "/\r\n";

  dovra::PosixEventLoop loop;
  dovra::test::ScriptedDialogs dialogs;
  dovra::test::ManualClock clock;
  dovra::TForm1 form(loop, dialogs, clock);
  form.FormCreate();
  form.timerInicia.setEnabled(false);
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
  s.ProgressMaximum = 100;

  const auto automatic = [&](Job& job) {
    s.BackupRunning.set(true);
    dovra::bench::resetPeakResident();
    const auto start = Clock::now();
    dovra::Tauto(form.workerContext(), dovra::autoBackupHooks(form), s.snapshot()).Execute();
    job.seconds.push_back(dovra::bench::secondsSince(start));
    job.peakKb = std::max(job.peakKb, dovra::bench::peakResidentKb());
    loop.processEvents();
    if (form.window().labelText("lbStatus") != "Backup realizado com sucesso") {
      fail("the automatic backup failed: " + form.window().labelText("lbStatus"));
    }
  };
  const auto manualBackup = [&](Job& job) {
    for (const auto& e : fs::directory_iterator(manual)) fs::remove(e.path());
    clock.setTime(8, 0, static_cast<int>(job.seconds.size()));  // a new archive name each run
    dovra::bench::resetPeakResident();
    const auto start = Clock::now();
    form.runHandler("spbBackupClick");
    job.seconds.push_back(dovra::bench::secondsSince(start));
    job.peakKb = std::max(job.peakKb, dovra::bench::peakResidentKb());
    if (form.window().labelText("lbStatus") != "Cópia realizada com sucesso") {
      fail("the manual backup failed: " + form.window().labelText("lbStatus"));
    }
  };
  // fbsvcmgr's two backups, then gzip -6 of both files: the times of the first half and of
  // the whole.
  const auto reference = [&](std::vector<double>& serverAlone, std::vector<double>& whole) {
    const auto start = Clock::now();
    for (const auto& [db, fbk] :
         {std::pair{mainDb, out / "ref_main.fbk"}, std::pair{nfeDb, out / "ref_nfe.fbk"}}) {
      fs::remove(fbk);
      if (dovra::bench::runProcess(
              {"fbsvcmgr", "localhost:service_mgr", "-user", user, "-password", password,
               "action_backup", "dbname", db.string(), "bkp_file", fbk.string(), "verbose"},
              (out / "fbsvcmgr.out").string()) != 0) {
        fail("fbsvcmgr failed");
      }
    }
    serverAlone.push_back(dovra::bench::secondsSince(start));
    for (const char* f : {"ref_main.fbk", "ref_nfe.fbk"}) {
      fs::remove(out / (std::string(f) + ".gz"));
      if (dovra::bench::runProcess({"gzip", "-6", (out / f).string()}) != 0) fail("gzip failed");
    }
    whole.push_back(dovra::bench::secondsSince(start));
  };

  std::vector<double> serverAlone, whole;
  Job autoJob, manualJob;
  for (int i = 0; i < runs; ++i) {
    reference(serverAlone, whole);
    automatic(autoJob);
    manualBackup(manualJob);
    std::printf(
        "run %d: fbsvcmgr %.3f s, fbsvcmgr + gzip -6 %.3f s, automatic %.3f s, manual %.3f s\n",
        i + 1, serverAlone.back(), whole.back(), autoJob.seconds.back(), manualJob.seconds.back());
  }
  const auto archive = fs::file_size(out / "ERP.zlib");
  const auto gz = fs::file_size(out / "ref_main.fbk.gz") + fs::file_size(out / "ref_nfe.fbk.gz");
  std::printf("archive %ju bytes, gzip files %ju bytes\n", static_cast<uintmax_t>(archive),
              static_cast<uintmax_t>(gz));
  std::printf("median: fbsvcmgr %.3f s, fbsvcmgr + gzip -6 %.3f s\n", median(serverAlone),
              median(whole));
  report("automatic", autoJob, median(whole), median(serverAlone));
  report("manual", manualJob, median(whole), median(serverAlone));
  fs::remove_all(out);
  fs::remove_all(manual);
  return 0;
}
