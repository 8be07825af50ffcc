#include "support/firebird_env.h"
#include "backup/ib_database.h"
#include "backup/ib_query.h"
#include "backup/ib_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace dovra::test {

const char* const kFirebirdSkipMessage =
    "needs the Firebird server: DOVRA_TEST_FB_USER, DOVRA_TEST_FB_PASSWORD and "
    "DOVRA_TEST_DB_DIR are not set. Run the suite with scripts/test, which starts the "
    "server and sets them (or source scripts/lib/firebird.sh and call start_firebird).";

std::optional<FirebirdEnv> firebirdEnv() {
  const char* user = std::getenv("DOVRA_TEST_FB_USER");
  const char* password = std::getenv("DOVRA_TEST_FB_PASSWORD");
  const char* dir = std::getenv("DOVRA_TEST_DB_DIR");
  if (!user || !*user || !password || !dir || !*dir) return std::nullopt;
  return FirebirdEnv{user, password, dir};
}

bool firebirdServerAnswers() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(3050);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

DbTempDir::DbTempDir(const std::filesystem::path& base, const std::string& prefix) {
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
  // The server runs as its own user and creates the database files here.
  std::filesystem::permissions(path_, std::filesystem::perms::all);
}

DbTempDir::~DbTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TestErp::TestErp(const FirebirdEnv& env, const std::function<void(SampleErpOptions&)>& adjust)
    : dir_(env.dbDir, "erp") {
  options_.dir = dir_.path();
  options_.user = env.user;
  options_.password = env.password;
  if (adjust) adjust(options_);
  erp_ = makeSampleErp(options_);
}

void FirebirdTest::SetUp() {
  const std::optional<FirebirdEnv> found = firebirdEnv();
  if (!found) GTEST_SKIP() << kFirebirdSkipMessage;
  ASSERT_TRUE(firebirdServerAnswers())
      << "DOVRA_TEST_FB_USER is set, so the Firebird server should run, but nothing answers "
         "on 127.0.0.1:3050. Start it with scripts/lib/firebird.sh (start_firebird).";
  env = *found;
}

std::map<std::string, int64_t> sampleRowCounts(IbDatabase& db) {
  IbTransaction tr(db);
  IbQuery q(db, tr);
  std::map<std::string, int64_t> counts;
  for (const char* table : {"PARGERAL", "EMPRESA", "PARAMETRO", "CLIENTE", "CONTATO", "PRODUTO",
                            "VENDA", "VENDAITEM"}) {
    q.Close();
    q.SetSQL(std::string("select count(*) from ") + table);
    q.Open();
    counts[table] = q.Fields[0].AsLargeInt();
  }
  q.Close();
  IbQuery blobs(db, tr);
  blobs.SetSQL("select sum(char_length(VENOBS)) from VENDA");
  blobs.Open();
  counts["VENOBS characters"] = blobs.Fields[0].AsLargeInt();
  return counts;
}

std::map<std::string, int64_t> sampleRowCounts(const std::string& location,
                                               const FirebirdEnv& env) {
  IbDatabase db;
  db.DatabaseName = location;
  db.Params = {"user_name=" + env.user, "password=" + env.password};
  return sampleRowCounts(db);
}

void restoreThroughServer(const std::string& backupFile, const std::string& databaseFile,
                          const FirebirdEnv& env) {
  TIBRestoreService restore;
  restore.Protocol = TProtocol::TCP;
  restore.ServerName = "localhost";
  restore.Params.SetValue("user_name", env.user);
  restore.Params.SetValue("password", env.password);
  restore.PageSize = 8192;
  restore.DatabaseName.Add(databaseFile);
  restore.BackupFile.Add(backupFile);
  restore.Attach();
  restore.ServiceStart();
  while (!restore.OutputFinished()) restore.ReadOutputLine();
  restore.Detach();
}

}  // namespace dovra::test
