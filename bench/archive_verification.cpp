// The check of an automatic archive (TVerifica: the main backup restored from the archive
// into a scratch database, validated online, its counts compared) against Firebird's
// `gbak -c` restoring the same backup file into a new database, in the same run. Prints the
// medians, the ratio (target <= 1.15 of gbak -c alone; gbak's restore through the service
// manager, `gbak -c -se`, is shown too) and the peak disk space each used on the backup
// folder's disk beside the size of the restored database.
//
// Usage: build/bench/archive_verification [--size-mb N] [--runs N]
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD (scripts/test
// sets them; or source scripts/lib/firebird.sh and call start_firebird). Uses the sample ERP
// of bench/backup_pipeline (made once with dovra-sample-erp and kept in $DOVRA_TEST_DB_DIR,
// or /var/tmp).
#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_reader.h"
#include "backup/archive_record.h"
#include "backup/archive_verification.h"
#include "backup/automatic_backup.h"
#include "bench_support.h"
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
  std::cerr << "archive_verification: " << why << "\n";
  std::exit(1);
}

uint64_t freeBytes(const fs::path& folder) {
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

// The most disk space that `work` takes on `folder`'s disk while it runs, sampled every
// 20 ms, and the seconds it took.
struct Measured {
  double seconds = 0;
  uint64_t peakBytes = 0;
};
template <class F>
Measured measure(const fs::path& folder, F&& work) {
  const uint64_t before = freeBytes(folder);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> lowest{before};
  std::thread sampler([&] {
    while (!done) {
      const uint64_t now = freeBytes(folder);
      if (now < lowest) lowest = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const auto start = Clock::now();
  work();
  Measured m{dovra::bench::secondsSince(start), 0};
  done = true;
  sampler.join();
  m.peakBytes = before > lowest ? before - lowest : 0;
  return m;
}

double mb(uint64_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  const auto args = dovra::bench::sampleArgs(argc, argv, "archive_verification");
  const int runs = args.runs;
  const std::string& user = args.user;
  const std::string& password = args.password;
  const fs::path dir =
      dovra::bench::sampleErpFolder(args, "bench-backup", {"--unsent-nfe", "2000"});
  const fs::path mainDb = dir / "ERP.fdb";
  const fs::path out = dir / "verify";
  const fs::path home = dir / "verify-home";
  fs::remove_all(out);
  for (const fs::path& p : {out, home / "windows", home / "program" / "CONFIGURACAO"}) {
    fs::create_directories(p);
    fs::permissions(p, fs::perms::all);
  }
  setenv("DOVRA_WINDOWS_DIR", (home / "windows").c_str(), 1);
  setenv("DOVRA_PROGRAM_DIR", (home / "program").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
  setenv("DOVRA_INSTANCE_SCOPE", home.c_str(), 1);
  std::ofstream(home / "program" / "CONFIGURACAO" / "application.dvk", std::ios::binary)
      << dovra::test::scramble("BENCHV") << "\r\n";

  dovra::PosixEventLoop loop;
  dovra::test::ScriptedDialogs dialogs;
  dovra::test::ManualClock clock;
  dovra::TForm1 form(loop, dialogs, clock);
  form.FormCreate();
  form.timerInicia.setEnabled(false);
  dovra::RunState& s = form.state();
  s.DatabasePath = "localhost:" + mainDb.string();
  s.DatabaseBaseName = "ERP";
  s.DbUser = user;
  s.DbPassword = password;
  s.LocalRemote = "L";
  s.BackupFolder = out.string() + "/";

  // The archive and its record, as an automatic backup leaves them.
  s.BackupRunning.set(true);
  dovra::Tauto(form.workerContext(), dovra::autoBackupHooks(form), s.snapshot()).Execute();
  loop.processEvents();
  const std::string archive = out.string() + "/ERP.zlib";
  const auto record = dovra::loadArchiveRecord(dovra::archiveRecordPath(archive));
  if (!record) fail("the automatic backup left no record: " + form.window().labelText("lbStatus"));
  // The reference restores the backup file itself, unpacked beforehand.
  const fs::path unpacked = out / "unpacked";
  fs::create_directories(unpacked);
  fs::permissions(unpacked, fs::perms::all);
  dovra::DecompressFiles(archive, unpacked.string() + "/");
  const fs::path fbk = unpacked / record->mainEntry;
  std::printf("database %ju MB, backup file %ju MB, archive %ju MB\n",
              static_cast<uintmax_t>(fs::file_size(mainDb) >> 20),
              static_cast<uintmax_t>(fs::file_size(fbk) >> 20),
              static_cast<uintmax_t>(fs::file_size(archive) >> 20));

  const fs::path restored = out / "ref.fdb";
  const auto gbak = [&](bool throughService) {
    fs::remove(restored);
    std::vector<std::string> args = {"gbak", "-c", "-user", user, "-password", password};
    if (throughService) {
      args.insert(args.end(), {"-se", "localhost:service_mgr", fbk.string(), restored.string()});
    } else {
      args.insert(args.end(), {fbk.string(), "localhost:" + restored.string()});
    }
    if (dovra::bench::runProcess(args) != 0) fail("gbak -c failed");
  };
  std::vector<double> gbakAlone, gbakService, check;
  uint64_t gbakPeak = 0, checkPeak = 0, restoredSize = 0;
  for (int i = 0; i < runs; ++i) {
    const Measured g = measure(out, [&] { gbak(false); });
    restoredSize = fs::file_size(restored);
    const Measured gs = measure(out, [&] { gbak(true); });
    fs::remove(restored);
    gbakAlone.push_back(g.seconds);
    gbakService.push_back(gs.seconds);
    gbakPeak = std::max(gbakPeak, g.peakBytes);

    // Each run checks the archive anew, as after a new backup.
    dovra::ArchiveRecord pending = *record;
    pending.state = dovra::ArchiveRecord::State::Pending;
    dovra::saveArchiveRecord(dovra::archiveRecordPath(archive), pending);
    dovra::VerificationMemory memory;
    const Measured c =
        measure(out, [&] { dovra::TVerifica(form.window(), s.snapshot(), memory).Execute(); });
    loop.processEvents();
    const auto after = dovra::loadArchiveRecord(dovra::archiveRecordPath(archive));
    if (!after || after->state != dovra::ArchiveRecord::State::Verified) {
      fail("the check did not pass; see " + out.string() + "/ERP_VERIFICA.txt");
    }
    check.push_back(c.seconds);
    checkPeak = std::max(checkPeak, c.peakBytes);
    std::printf("run %d: gbak -c %.3f s, gbak -c -se %.3f s, check %.3f s\n", i + 1, g.seconds,
                gs.seconds, c.seconds);
  }
  std::printf("median: gbak -c %.3f s, gbak -c -se %.3f s, check %.3f s\n", median(gbakAlone),
              median(gbakService), median(check));
  std::printf("  ratio check / gbak -c alone:    %.3f (target <= 1.15)\n",
              median(check) / median(gbakAlone));
  std::printf("  ratio check / gbak -c -se:      %.3f\n", median(check) / median(gbakService));
  std::printf(
      "peak disk used: check %.1f MB, gbak -c %.1f MB (the backup file, %.1f MB, "
      "already on disk for gbak); restored database %.1f MB\n",
      mb(checkPeak), mb(gbakPeak), mb(fs::file_size(fbk)), mb(restoredSize));
  fs::remove_all(out);
  return 0;
}
