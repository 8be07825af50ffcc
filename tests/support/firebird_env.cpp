#include "support/firebird_env.h"
#include "firebird/erp_connections.h"
#include "firebird/ib_database.h"
#include "firebird/ib_query.h"
#include "firebird/ib_service.h"
#include "support/test_servers.h"

#ifdef _WIN32
#include <random>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace dovra::test {

const char* const kFirebirdSkipMessage =
    "needs the Firebird server: DOVRA_TEST_FB_USER, DOVRA_TEST_FB_PASSWORD and "
    "DOVRA_TEST_DB_DIR are not set. Run the suite with scripts/test, which starts the "
    "server and sets them (or source scripts/lib/firebird.sh and call start_firebird).";

namespace {

// Runs a verbose service on the local server to its end.
void runThroughServer(TIBBackupRestoreService& service, const FirebirdEnv& env) {
  service.Protocol = TProtocol::TCP;
  service.ServerName = "localhost";
  service.LoginPrompt = false;
  service.Verbose = true;
  service.Params.SetValue("user_name", env.user);
  service.Params.SetValue("password", env.password);
  service.Attach();
  service.ServiceStart();
  while (!service.OutputFinished()) service.ReadOutputLine();
  service.Detach();
}

}  // namespace

std::optional<FirebirdEnv> firebirdEnv() {
  const char* user = std::getenv("DOVRA_TEST_FB_USER");
  const char* password = std::getenv("DOVRA_TEST_FB_PASSWORD");
  const char* dir = std::getenv("DOVRA_TEST_DB_DIR");
  if (!user || !*user || !password || !dir || !*dir) return std::nullopt;
#ifdef _WIN32
  // The folder is the host's: under Wine it is on the drive that maps the host's root.
  std::string folder = dir;
  if (folder.front() == '/') folder = "Z:" + folder;
  for (char& c : folder) c = c == '/' ? '\\' : c;
  return FirebirdEnv{user, password, folder};
#else
  return FirebirdEnv{user, password, dir};
#endif
}

void useFirebird(FirebirdEnv& env) {
  const std::optional<FirebirdEnv> found = firebirdEnv();
  if (!found) GTEST_SKIP() << kFirebirdSkipMessage;
  const int probe = connectLoopback(3050);
  if (probe >= 0) closeLoopback(probe);
  ASSERT_GE(probe, 0)
      << "DOVRA_TEST_FB_USER is set, so the Firebird server should run, but nothing answers "
         "on 127.0.0.1:3050. Start it with scripts/lib/firebird.sh (start_firebird).";
  env = *found;
}

void FirebirdTest::SetUp() {
  useFirebird(env);
}

DbTempDir::DbTempDir(const std::filesystem::path& base, const std::string& prefix) {
#ifdef _WIN32
  // A random name, made with a call that fails when the name is taken. The server's user
  // writes here because the run makes every folder open to all (scripts/test-windows runs
  // Wine with umask 0): Windows has no mode bits to set.
  std::random_device seed;
  std::mt19937_64 rng(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        base / (prefix + "-" + std::to_string(rng() % 1000000000));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
  }
  if (path_.empty()) throw std::runtime_error("cannot make a folder under " + base.string());
#else
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
  // The server runs as its own user and creates the database files here.
  std::filesystem::permissions(path_, std::filesystem::perms::all);
#endif
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

std::map<std::string, int64_t> sampleRowCounts(const std::string& location,
                                               const FirebirdEnv& env) {
  IbDatabase db;
  connectDatabase(db, location, env.user, env.password);
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
  q.SetSQL("select sum(char_length(VENOBS)) from VENDA");
  q.Open();
  counts["VENOBS characters"] = q.Fields[0].AsLargeInt();
  return counts;
}

void execSql(const std::string& location, const FirebirdEnv& env, const std::string& statement) {
  IbDatabase db;
  connectDatabase(db, location, env.user, env.password);
  IbTransaction tr(db);
  IbQuery q(db, tr);
  q.ParamCheck = false;
  q.SetSQL(statement);
  q.ExecSQL();
  tr.Commit();
}

std::vector<std::vector<std::string>> queryRows(const std::string& location, const FirebirdEnv& env,
                                                const std::string& statement) {
  IbDatabase db;
  connectDatabase(db, location, env.user, env.password);
  IbTransaction tr(db);
  IbQuery q(db, tr);
  q.SetSQL(statement);
  q.Open();
  std::vector<std::vector<std::string>> rows;
  for (; !q.Eof(); q.Next()) {
    rows.emplace_back();
    for (size_t i = 0; i < q.Fields.Count(); ++i) rows.back().push_back(q.Fields[i].AsString());
  }
  tr.Commit();
  return rows;
}

std::string queryValue(const std::string& location, const FirebirdEnv& env,
                       const std::string& statement) {
  return queryRows(location, env, statement).at(0).at(0);
}

void backupThroughServer(const std::string& databaseFile, const std::string& backupFile,
                         const FirebirdEnv& env) {
  TIBBackupService backup;
  backup.DatabaseName = databaseFile;
  backup.BackupFile.Add(backupFile);
  runThroughServer(backup, env);
}

void restoreThroughServer(const std::string& backupFile, const std::string& databaseFile,
                          const FirebirdEnv& env) {
  TIBRestoreService restore;
  restore.PageSize = 8192;
  restore.DatabaseName.Add(databaseFile);
  restore.BackupFile.Add(backupFile);
  runThroughServer(restore, env);
}

}  // namespace dovra::test
