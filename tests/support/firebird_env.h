// The Firebird server the integration tests use, as scripts/test provides it.
//
// scripts/test (through scripts/lib/firebird.sh) starts the server and exports
// DOVRA_TEST_FB_USER, DOVRA_TEST_FB_PASSWORD and DOVRA_TEST_DB_DIR (a folder the server's
// user can write). A test that needs the server derives from FirebirdTest (or calls
// useFirebird):
//  - without these variables (one test program run by hand) the test is skipped with a
//    message that names scripts/test;
//  - with them, a server that does not answer fails the test.
// DbTempDir makes a folder inside DOVRA_TEST_DB_DIR that the server can write and removes
// it, with every database in it, at the end; TestErp makes the sample ERP in one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/sample_erp.h"

namespace dovra::test {

struct FirebirdEnv {
  std::string user;
  std::string password;
  std::filesystem::path dbDir;
};

// The variables above, or nothing when any of them is unset.
std::optional<FirebirdEnv> firebirdEnv();

// Fills `env` as FirebirdTest does, skipping or failing the running test likewise, for a
// fixture that cannot derive from it; the fixture checks IsSkipped() and HasFatalFailure()
// after it.
void useFirebird(FirebirdEnv& env);

class DbTempDir {
 public:
  DbTempDir(const std::filesystem::path& base, const std::string& prefix);
  ~DbTempDir();
  DbTempDir(const DbTempDir&) = delete;
  DbTempDir& operator=(const DbTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // "localhost:" + file(name): the location of a database in this folder on the server.
  std::string remote(const std::string& name) const { return "localhost:" + file(name); }

 private:
  std::filesystem::path path_;
};

// A sample ERP made for one test in its own DbTempDir, with the credentials of `env`.
// `adjust` changes the options before the databases are made.
class TestErp {
 public:
  TestErp(const FirebirdEnv& env, const std::function<void(SampleErpOptions&)>& adjust = {});
  const SampleErp& erp() const { return erp_; }
  const SampleErpOptions& options() const { return options_; }
  const DbTempDir& dir() const { return dir_; }

 private:
  DbTempDir dir_;
  SampleErpOptions options_;
  SampleErp erp_;
};

class FirebirdTest : public ::testing::Test {
 protected:
  void SetUp() override;
  FirebirdEnv env;
};

// Row counts of the sample ERP's tables (and the characters of its text blobs), to compare
// a database with its restored copy.
std::map<std::string, int64_t> sampleRowCounts(const std::string& location, const FirebirdEnv& env);

// Runs `statement` (taken as it is, without parameters) on the database at `location` in a
// connection of its own, and commits.
void execSql(const std::string& location, const FirebirdEnv& env, const std::string& statement);
// The rows of a select run the same way, every column as text.
std::vector<std::vector<std::string>> queryRows(const std::string& location, const FirebirdEnv& env,
                                                const std::string& statement);
// The first column of its first row.
std::string queryValue(const std::string& location, const FirebirdEnv& env,
                       const std::string& statement);

// Backs the database file `databaseFile` up into `backupFile` through the local server.
void backupThroughServer(const std::string& databaseFile, const std::string& backupFile,
                         const FirebirdEnv& env);
// Restores `backupFile` into the new database file `databaseFile` through the local server.
void restoreThroughServer(const std::string& backupFile, const std::string& databaseFile,
                          const FirebirdEnv& env);

// The message of the skip when the variables are missing.
extern const char* const kFirebirdSkipMessage;

}  // namespace dovra::test
