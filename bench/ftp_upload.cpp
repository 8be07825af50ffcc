// Upload throughput and memory of TIdFTP against curl, on the same files, to the same
// local FTP server (pyftpdlib, started here), in the same run.
//
//   build/bench/ftp_upload [SIZE_MB...]      default: 100 1024
//
// For each size a file of that many MiB is made in a temporary folder; it is stored by
// UploadFile (OpenSession, STOR, CloseSession) and by "curl -T" in turn, three rounds
// each, and the best wall time of each is compared (the machine may be shared). The peak
// resident memory of this process (VmHWM) is printed after each size: the upload streams
// the file in SendBufferSize chunks, so it does not grow with the file. Targets: wall
// ratio at most 1.1, peak memory under 32 MiB. Needs /usr/bin/python3 with pyftpdlib and
// curl; the temporary folder ($DOVRA_TEST_TMP or the system's) needs room for three
// copies of the largest file.
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
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "transfer/ftp_session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double uploadOurs(const dovra::test::FtpTestServer& server, const std::string& file) {
  const auto start = Clock::now();
  dovra::TIdFTP ftp;
  ftp.Host = server.host();
  ftp.Port = server.port();
  ftp.Username = dovra::test::kFtpUser;
  ftp.Password = dovra::test::kFtpPassword;
  ftp.Passive = true;
  ftp.RecvBufferSize = 8192;
  ftp.SendBufferSize = 32768;
  ftp.OpenSession(true, 5000);
  ftp.UploadFile(file, "ours.bin", false);
  ftp.CloseSession();
  return dovra::bench::secondsSince(start);
}

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
  try {
    dovra::test::TempDir work("ftpbench");
    fs::create_directory(work.path() / "root");
    dovra::test::FtpTestServer server(work.path() / "root");
    std::printf("%10s %10s %10s %8s %10s %10s\n", "size MiB", "ours s", "curl s", "ratio",
                "ours MiB/s", "VmHWM MiB");
    bool met = true;
    for (const int64_t mb : sizesMb) {
      const int64_t size = mb << 20;
      const std::string file = work.file("upload.bin");
      dovra::bench::writeNoiseFile(file, size);
      const int rounds = 3;
      double ours = 1e30, curl = 1e30;
      for (int round = 0; round < rounds; ++round) {
        // Alternate who goes first, and start each upload with no dirty pages pending, so
        // neither pays for the other's write-back.
        for (int turn = 0; turn < 2; ++turn) {
          ::sync();
          if ((turn + round) % 2 == 0) {
            ours = std::min(ours, uploadOurs(server, file));
          } else {
            curl = std::min(curl, uploadCurl(server, file));
          }
        }
        for (const char* name : {"ours.bin", "curl.bin"}) {
          const fs::path stored = work.path() / "root" / name;
          if (static_cast<int64_t>(fs::file_size(stored)) != size) {
            throw std::runtime_error(std::string(name) + " arrived with the wrong size");
          }
          fs::remove(stored);
        }
      }
      fs::remove(file);
      const double ratio = ours / curl;
      const double peakMb = static_cast<double>(dovra::bench::peakResidentKb()) / 1024.0;
      met = met && ratio <= 1.1 && peakMb < 32;
      std::printf("%10lld %10.3f %10.3f %8.3f %10.1f %10.1f\n", static_cast<long long>(mb), ours,
                  curl, ratio, static_cast<double>(mb) / ours, peakMb);
    }
    std::printf("targets (ratio <= 1.1, VmHWM < 32 MiB): %s\n", met ? "met" : "NOT met");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ftp_upload: %s\n", e.what());
    return 1;
  }
}
