// The NF-e export (a whole TXML run: the select of the unsent documents, the local copies,
// the folder changes, one STOR and one mark per document, the commit) against lftp storing
// the same files to the same local FTP server (pyftpdlib, started here) in one session,
// in the same run.
//
//   build/bench/nfe_export [DOCUMENTS]      default: 5000
//
// The sample ERP's NF-e database is made with DOCUMENTS unsent documents of two companies.
// Each round resets them to unsent and empties the server; our export runs twice per
// round: "cold", with no local copies (each is written, flushed and renamed into place
// before it is sent, as on the first run), and "warm", with the local copies in place (as
// on a retry). lftp then stores the same files, laid out one folder per company, with
// mput in one session. Three rounds; the best time of each is compared as documents per
// second. Target: ours at least 0.8 times lftp's rate.
//
// Needs the Firebird server and DOVRA_TEST_FB_USER / DOVRA_TEST_FB_PASSWORD /
// DOVRA_TEST_DB_DIR (scripts/test sets them; or source scripts/lib/firebird.sh and call
// start_firebird), /usr/bin/python3 with pyftpdlib, and lftp.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "transfer/nfe_export.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

size_t filesBelow(const fs::path& top) {
  size_t n = 0;
  if (!fs::exists(top)) return 0;
  for (const auto& e : fs::recursive_directory_iterator(top)) n += e.is_regular_file();
  return n;
}

void emptyFolder(const fs::path& folder) {
  for (const auto& e : fs::directory_iterator(folder)) fs::remove_all(e.path());
}

double runLftp(const dovra::test::FtpTestServer& server, const fs::path& stage,
               const std::vector<std::string>& companies) {
  std::string script =
      "set cmd:fail-exit yes; set ftp:ssl-allow no; set ftp:passive-mode on; "
      "set net:max-retries 1; ";
  for (const std::string& company : companies) {
    script += "mkdir -p /lftp/" + company + "; cd /lftp/" + company + "; lcd " +
              (stage / company).string() + "; mput *-nfe.xml; ";
  }
  script += "quit";
  std::vector<std::string> args = {
      "/usr/bin/lftp",
      "-u",
      std::string(dovra::test::kFtpUser) + "," + dovra::test::kFtpPassword,
      "-p",
      std::to_string(server.port()),
      "-e",
      script,
      server.host()};
  return dovra::bench::timedRun(args);
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::atoi(argv[1]) : 5000;
  const auto env = dovra::test::firebirdEnv();
  if (!env) {
    std::fprintf(stderr, "nfe_export: %s\n", dovra::test::kFirebirdSkipMessage);
    return 2;
  }
  try {
    dovra::test::TempDir work("nfebench");
    for (const char* sub : {"ftp", "xml", "stage", "program", "windows"}) {
      fs::create_directories(work.path() / sub);
    }
    dovra::test::FtpTestServer server(work.path() / "ftp");
    ::setenv("DOVRA_WINDOWS_DIR", (work.path() / "windows").c_str(), 1);
    ::setenv("DOVRA_PROGRAM_DIR", (work.path() / "program").c_str(), 1);
    ::setenv("DOVRA_FTP_HOST", "127.0.0.1", 1);
    ::setenv("DOVRA_NFE_FTP_PORT", std::to_string(server.port()).c_str(), 1);
    std::printf("making the sample ERP with %d unsent documents...\n", documents);
    std::fflush(stdout);
    dovra::test::TestErp erp(*env, [documents](dovra::test::SampleErpOptions& o) {
      o.unsentNfe = documents;
      o.sentNfe = 0;
    });
    const std::string nfe = erp.erp().nfeLocation;

    dovra::PosixEventLoop loop;
    dovra::test::ScriptedDialogs dialogs;
    dovra::SystemClock clock;
    dovra::TForm1 form(loop, dialogs, clock);
    form.timerInicia.setEnabled(false);
    form.Timer3.setEnabled(false);
    dovra::RunState& state = form.state();
    state.DatabasePath = erp.erp().mainLocation;
    state.DatabaseBaseName = "ERP";
    state.NfeDatabasePath = nfe;
    state.NfeEnabled = true;
    state.DbUser = env->user;
    state.DbPassword = env->password;
    state.XmlFolder = (work.path() / "xml").string() + "/NFe/Xmls/Xmls";
    {
      dovra::ErpConnections& db = form.erp();
      std::lock_guard lock(db.Banco.lock());
      dovra::connectDatabase(db.Banco, state.DatabasePath, state.DbUser, state.DbPassword);
      db.Banco.Close();
      std::lock_guard nfeLock(db.banconfe.lock());
      dovra::connectDatabase(db.banconfe, nfe, state.DbUser, state.DbPassword);
      db.tnfe.StartTransaction();
    }
    std::vector<std::string> companies;
    for (const auto& row :
         dovra::test::queryRows(nfe, *env, "select distinct NFEEMPRESA from NFE order by 1")) {
      companies.push_back(row.at(0));
    }

    const auto exportOnce = [&] {
      dovra::test::execSql(nfe, *env, "update NFE set NFEFTP = 'N'");
      emptyFolder(work.path() / "ftp");
      ::sync();
      const auto start = Steady::now();
      dovra::TXML(form.workerContext(), dovra::erpAccess(form), form.IdFTPNFE, state.snapshot())
          .Execute();
      const double seconds = dovra::bench::secondsSince(start);
      const std::string unsent =
          dovra::test::queryValue(nfe, *env, "select count(*) from NFE where NFEFTP <> 'S'");
      if (unsent != "0" || filesBelow(work.path() / "ftp") != static_cast<size_t>(documents)) {
        throw std::runtime_error("the export did not store and mark every document");
      }
      return seconds;
    };

    double cold = 1e30, warm = 1e30, lftp = 1e30;
    for (int round = 0; round < 3; ++round) {
      emptyFolder(work.path() / "xml");
      cold = std::min(cold, exportOnce());
      warm = std::min(warm, exportOnce());
      if (round == 0) {
        // The same files for lftp, one folder per company.
        for (const auto& e : fs::recursive_directory_iterator(work.path() / "xml")) {
          if (!e.is_regular_file()) continue;
          const std::string company =
              e.path().parent_path().parent_path().filename().string().substr(4);  // "Xmls<n>"
          fs::create_directories(work.path() / "stage" / company);
          fs::copy_file(e.path(), work.path() / "stage" / company / e.path().filename());
        }
        if (filesBelow(work.path() / "stage") != static_cast<size_t>(documents)) {
          throw std::runtime_error("staging the files for lftp failed");
        }
      }
      emptyFolder(work.path() / "ftp");
      ::sync();
      lftp = std::min(lftp, runLftp(server, work.path() / "stage", companies));
      if (filesBelow(work.path() / "ftp") != static_cast<size_t>(documents)) {
        throw std::runtime_error("lftp did not store every file");
      }
    }

    const double n = documents;
    std::printf("%-28s %10s %12s %8s\n", "", "seconds", "documents/s", "ratio");
    std::printf("%-28s %10.3f %12.0f %8s\n", "lftp mput, one session", lftp, n / lftp, "1.000");
    std::printf("%-28s %10.3f %12.0f %8.3f\n", "export, local copies made", cold, n / cold,
                lftp / cold);
    std::printf("%-28s %10.3f %12.0f %8.3f\n", "export, local copies there", warm, n / warm,
                lftp / warm);
    const bool met = lftp / cold >= 0.8 && lftp / warm >= 0.8;
    std::printf("target (at least 0.8 times lftp's documents per second): %s\n",
                met ? "met" : "NOT met");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nfe_export: %s\n", e.what());
    return 1;
  }
}
