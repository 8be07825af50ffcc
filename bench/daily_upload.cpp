// The daily upload (a whole TFTP run: the database statements, the session, SIZE, the
// APPE of the archive sent from the held file, the size check, the date reports, the date
// update, DELE and RNFR/RNTO) against "curl -T" of the same archive to the same local FTP
// server (pyftpdlib, started here), in the same run.
//
//   build/bench/daily_upload [SIZE_MB...]      default: 100 1024
//
// For each size an archive of that many MiB is made; the upload and curl run in turn,
// three rounds each, alternating who goes first, and the best wall time of each is
// compared (the machine may be shared). The peak resident memory during our uploads is
// measured by resetting the process's peak (/proc/self/clear_refs) before each upload and
// reading VmHWM after it: the archive is sent from the file in SendBufferSize chunks, so
// the peak does not grow with the archive. Targets: ratio at most 1.1, peak under 32 MiB.
//
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD /
// DOVRA_TEST_DB_DIR (scripts/test sets them; or source scripts/lib/firebird.sh and call
// start_firebird), /usr/bin/python3 with pyftpdlib, and curl. The temporary folder
// ($DOVRA_TEST_TMP or the system's) needs room for three copies of the largest archive.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "firebird/erp_connections.h"
#include "form/form1.h"
#include "form/transfer_workers.h"
#include "platform/clock.h"
#include "platform/posix_event_loop.h"
#include "support/fakes.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "transfer/daily_upload.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

double uploadCurl(const dovra::test::FtpTestServer& server, const std::string& file) {
  const std::string url = "ftp://" + std::string(dovra::test::kFtpUser) + ":" +
                          dovra::test::kFtpPassword + "@" + server.host() + ":" +
                          std::to_string(server.port()) + "/curl.bin";
  std::vector<std::string> args = {"/usr/bin/curl", "-sS", "-T", file, url};
  return dovra::bench::timedRun(args);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int64_t> sizesMb;
  for (int i = 1; i < argc; ++i) sizesMb.push_back(std::atoll(argv[i]));
  if (sizesMb.empty()) sizesMb = {100, 1024};
  const auto env = dovra::test::firebirdEnv();
  if (!env) {
    std::fprintf(stderr, "daily_upload: %s\n", dovra::test::kFirebirdSkipMessage);
    return 2;
  }
  try {
    dovra::test::TempDir work("uploadbench");
    for (const char* sub : {"ftp", "web", "backup", "program", "windows"}) {
      fs::create_directories(work.path() / sub);
    }
    dovra::test::FtpTestServer server(work.path() / "ftp");
    dovra::test::HttpTestServer web(work.path() / "web");
    ::setenv("DOVRA_WINDOWS_DIR", (work.path() / "windows").c_str(), 1);
    ::setenv("DOVRA_PROGRAM_DIR", (work.path() / "program").c_str(), 1);
    ::setenv("DOVRA_FTP_HOST", "127.0.0.1", 1);
    ::setenv("DOVRA_FTP_PORT", std::to_string(server.port()).c_str(), 1);
    ::setenv("DOVRA_WEB_HOST", web.hostPort().c_str(), 1);
    dovra::test::TestErp erp(*env, [](dovra::test::SampleErpOptions& o) { o.nfeDatabase = false; });

    dovra::PosixEventLoop loop;
    dovra::test::ScriptedDialogs dialogs;
    dovra::SystemClock clock;
    dovra::TForm1 form(loop, dialogs, clock);
    form.timerInicia.setEnabled(false);
    form.Timer3.setEnabled(false);
    dovra::RunState& state = form.state();
    state.DatabasePath = erp.erp().mainLocation;
    state.DatabaseBaseName = "ERP";
    state.DbUser = env->user;
    state.DbPassword = env->password;
    state.BackupFolder = (work.path() / "backup").string() + "/";
    {
      dovra::ErpConnections& db = form.erp();
      std::lock_guard lock(db.Banco.lock());
      dovra::connectDatabase(db.Banco, state.DatabasePath, state.DbUser, state.DbPassword);
      db.Banco.Close();
    }
    const std::string archive = state.BackupFolder + "ERP.zlib";

    std::printf("%10s %10s %10s %8s %10s %12s\n", "size MiB", "ours s", "curl s", "ratio",
                "ours MiB/s", "peak MiB");
    bool met = true;
    for (const int64_t mb : sizesMb) {
      const int64_t size = mb << 20;
      dovra::bench::writeNoiseFile(archive, size);
      double ours = 1e30, curl = 1e30;
      long peakKb = 0;
      for (int round = 0; round < 3; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
          ::sync();
          if ((turn + round) % 2 == 0) {
            dovra::test::execSql(state.DatabasePath, *env, "update PARGERAL set PRGDATAFTP = null");
            form.window().memoClear("mLog");
            dovra::bench::resetPeakResident();
            const auto start = Steady::now();
            dovra::TFTP(form.workerContext(), dovra::erpAccess(form), form.IdFTP1, state.snapshot())
                .Execute();
            ours = std::min(ours, dovra::bench::secondsSince(start));
            peakKb = std::max(peakKb, dovra::bench::peakResidentKb());
            const auto lines = form.window().memoLines("mLog");
            if (lines.empty() || lines.back() != "Arquivo novo renomeado") {
              throw std::runtime_error("the upload did not complete: " +
                                       (lines.empty() ? std::string("no log") : lines.back()));
            }
          } else {
            curl = std::min(curl, uploadCurl(server, archive));
          }
        }
        bool found = false;
        for (const auto& e : fs::recursive_directory_iterator(work.path() / "ftp")) {
          if (!e.is_regular_file()) continue;
          if (static_cast<int64_t>(e.file_size()) != size) {
            throw std::runtime_error(e.path().string() + " arrived with the wrong size");
          }
          found = found || e.path().filename() == "ERP.zlib";
        }
        if (!found) throw std::runtime_error("no ERP.zlib on the server");
      }
      fs::remove(archive);
      for (const auto& e : fs::directory_iterator(work.path() / "ftp")) fs::remove_all(e.path());
      const double ratio = ours / curl;
      const double peakMb = static_cast<double>(peakKb) / 1024.0;
      met = met && ratio <= 1.1 && peakMb < 32;
      std::printf("%10lld %10.3f %10.3f %8.3f %10.1f %12.1f\n", static_cast<long long>(mb), ours,
                  curl, ratio, static_cast<double>(mb) / ours, peakMb);
    }
    std::printf("targets (ratio <= 1.1, peak < 32 MiB): %s\n", met ? "met" : "NOT met");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "daily_upload: %s\n", e.what());
    return 1;
  }
}
