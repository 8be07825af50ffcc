// Connections to the ERP's Firebird databases and their transactions.
//
// IbDatabase is one connection (the main window owns two: `Banco` for the main database
// and `banconfe` for the NF-e database); IbTransaction is the one transaction object of
// a connection (`TBanco`, `tnfe`); the datasets that run statements on them are IbQuery
// objects (ib_query.h). Methods keep the names the program's code calls them by (Open,
// Close, Commit, CommitRetaining, ...); settings are public members (DatabaseName,
// Params, SQLDialect) that take effect at the next Open.
//
// Connecting: the parameter block is built from the "name=value" lines of Params (the
// program gives exactly "user_name=..." and "password=..."); user and password are sent
// as their Windows-1252 bytes, and the connection asks for the character set WIN1252
// (isc_dpb_lc_ctype) unless Params names another, so text travels as Windows-1252
// bytes and the datasets convert it to and from UTF-8. The database name is passed as
// given ("host:path", "host/port:path", or a plain path for the embedded engine), in
// UTF-8, and the block says so (isc_dpb_utf8_filename), as the service client's does.
//
// Transactions carry no parameters (the client's default: concurrency, wait) and end
// only by an explicit Commit or Rollback. Closing a connection rolls back a transaction
// that is still active: work becomes permanent only through a commit, never as a side
// effect of a close (so a run that stops before its commit leaves the database as it
// was, and the next run does the work again).
//
// Threads: a connection, its transaction and its datasets are used by one thread at a
// time. Every method takes the connection's lock() for its own duration; a job that runs
// several statements holds lock() for the whole job so that no other thread's statements
// interleave with its own (the manual backup on the main thread and the daily upload on
// a worker both use `Banco`).
//
// Ownership: datasets and transactions refer to their connection and must be destroyed
// before it (declare the connection first). Objects are neither copyable nor movable.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "firebird/fb_client.h"
#include "firebird/string_list.h"

namespace dovra {

class IbTransaction;
class IbQuery;

class IbDatabase {
 public:
  // Loads the client library (FbClient::instance()); throws its not-found error.
  IbDatabase();
  // Closes the connection; errors are swallowed.
  ~IbDatabase();
  IbDatabase(const IbDatabase&) = delete;
  IbDatabase& operator=(const IbDatabase&) = delete;

  // Database location in the server's notation, passed unchanged to the client.
  std::string DatabaseName;
  // "name=value" lines: user_name, password (and optionally lc_ctype, sql_role_name).
  StringList Params;
  // SQL dialect of the statements; the program uses 3.
  int SQLDialect = 3;

  // Attaches to DatabaseName; does nothing when connected. Throws EIBError with the
  // client's text (wrong credentials, unreachable server, missing file, ...).
  void Open();
  // Closes the datasets, rolls back an active transaction and detaches. Never throws:
  // when the server is already gone the connection is dropped all the same, so the next
  // Open starts afresh.
  void Close();
  bool Connected() const;

  // The connection's lock; see the header comment.
  std::recursive_mutex& lock() const { return mutex_; }

  // Creates the database file DatabaseName with the credentials of Params and leaves
  // the connection open on it. For the sample databases and tests.
  void CreateDatabase(int pageSize, const std::string& characterSet);
  // Drops (deletes) the connected database.
  void DropDatabase();
  // Size of the connected database: allocated pages times page size.
  int64_t DatabaseSize();

  // The database parameter block for `params` and `dialect`, byte for byte. Throws
  // Exception("DPB Constant Unknown") for a name it does not know.
  static std::string buildDpb(const StringList& params, int dialect);

  const FbClient& client() const { return client_; }

 private:
  friend class IbTransaction;
  friend class IbQuery;

  // Before the connection goes: closes and drops every statement, rolls back every active
  // transaction (errors ignored).
  void endStatementsAndTransactions();

  const FbClient& client_;
  isc_db_handle handle_ = 0;
  std::vector<IbTransaction*> transactions_;
  std::vector<IbQuery*> queries_;
  mutable std::recursive_mutex mutex_;
};

class IbTransaction {
 public:
  explicit IbTransaction(IbDatabase& database);
  // Rolls back when still active; errors are swallowed.
  ~IbTransaction();
  IbTransaction(const IbTransaction&) = delete;
  IbTransaction& operator=(const IbTransaction&) = delete;

  IbDatabase& DefaultDatabase() const { return database_; }

  // Starts the transaction. Throws "Database not connected" when the connection is
  // closed and "Transaction is active" when it already runs.
  void StartTransaction();
  // Ends the transaction, making its work permanent; closes its open datasets first.
  void Commit();
  // Makes the work permanent and keeps the transaction (and its open datasets) going.
  void CommitRetaining();
  // Ends the transaction, undoing its work; closes its open datasets first.
  void Rollback();
  // Commit, CommitRetaining and Rollback throw "Transaction is not active" when it is
  // not; a failing commit leaves the transaction active.
  bool Active() const;

 private:
  friend class IbDatabase;
  friend class IbQuery;

  void closeDatasets();
  void requireActive() const;

  IbDatabase& database_;
  isc_tr_handle handle_ = 0;
};

}  // namespace dovra
