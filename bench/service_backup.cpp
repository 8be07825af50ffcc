// Verbose backup through the service manager: TIBBackupService reading every output line
// against Firebird's own fbsvcmgr doing the same backup of the same database in the same
// run. Prints the median of each and their ratio (target: at most 1.05).
//
// Usage: build/bench/service_backup [--size-mb N] [--runs N]
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD (scripts/test
// sets them; or source scripts/lib/firebird.sh and call start_firebird). The sample
// database is made once with dovra-sample-erp and kept in $DOVRA_TEST_DB_DIR (or
// /var/tmp) for later runs.
#include <sys/stat.h>
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

#include "firebird/ib_service.h"

namespace {

using dovra::bench::envOr;
using dovra::bench::median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

size_t countLines(const std::string& file) {
  std::ifstream in(file);
  size_t n = 0;
  std::string line;
  while (std::getline(in, line)) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const auto args = dovra::bench::sampleArgs(argc, argv, "service_backup");
  const int runs = args.runs;
  const std::string& user = args.user;
  const std::string& password = args.password;
  // The sample database, made once and kept.
  const fs::path dir =
      dovra::bench::sampleErpFolder(args, "bench-service-backup", {"--no-nfe-database"});
  const fs::path database = dir / "ERP.fdb";
  std::cout << "database " << database << ": " << fs::file_size(database) / (1024 * 1024) << " MB"
            << std::endl;

  const std::string backupFile = (dir / "bench.fbk").string();
  const std::string referenceOutput = (dir / "fbsvcmgr.out").string();
  std::vector<double> ours;
  std::vector<double> reference;
  size_t ourLines = 0;
  size_t referenceLines = 0;
  for (int run = 0; run < runs; ++run) {
    // TIBBackupService, every output line read and kept.
    fs::remove(backupFile);
    {
      const auto start = Clock::now();
      dovra::TIBBackupService svc;
      svc.LoginPrompt = false;
      svc.Protocol = dovra::TProtocol::TCP;
      svc.ServerName = "localhost";
      svc.Params.SetValue("user_name", user);
      svc.Params.SetValue("password", password);
      svc.Verbose = true;
      svc.DatabaseName = database.string();
      svc.BackupFile.Add(backupFile);
      std::vector<std::string> lines;
      svc.Attach();
      svc.ServiceStart();
      while (!svc.OutputFinished()) lines.push_back(svc.ReadOutputLine());
      svc.Detach();
      ours.push_back(dovra::bench::secondsSince(start));
      ourLines = lines.size();
    }
    const auto ourBackupSize = fs::file_size(backupFile);

    // fbsvcmgr, the same request, its output written to a file.
    fs::remove(backupFile);
    {
      const auto start = Clock::now();
      const int status = dovra::bench::runProcess(
          {"fbsvcmgr", "localhost:service_mgr", "-user", user, "-password", password,
           "action_backup", "dbname", database.string(), "bkp_file", backupFile, "verbose"},
          referenceOutput);
      reference.push_back(dovra::bench::secondsSince(start));
      if (status != 0) {
        std::cerr << "service_backup: fbsvcmgr failed (status " << status << ")\n";
        return 1;
      }
      referenceLines = countLines(referenceOutput);
    }
    std::printf(
        "run %d: TIBBackupService %.3f s (%zu lines, %ju bytes), fbsvcmgr %.3f s "
        "(%zu lines, %ju bytes)\n",
        run + 1, ours.back(), ourLines, static_cast<uintmax_t>(ourBackupSize), reference.back(),
        referenceLines, static_cast<uintmax_t>(fs::file_size(backupFile)));
  }
  fs::remove(backupFile);
  fs::remove(referenceOutput);

  const double ourMedian = median(ours);
  const double referenceMedian = median(reference);
  std::printf("median: TIBBackupService %.3f s, fbsvcmgr %.3f s\n", ourMedian, referenceMedian);
  std::printf("ratio TIBBackupService / fbsvcmgr: %.3f (target <= 1.05)\n",
              ourMedian / referenceMedian);
  return 0;
}
