// The Firebird client library (fbclient), loaded at run time.
//
// The program never links fbclient: it opens the library with dlopen when the first
// database or service object is created, and resolves the classic ISC entry points it
// uses. The library looked for is $DOVRA_FBCLIENT when that is set and not empty, else
// "libfbclient.so.2" (found through the dynamic loader's search path). When it cannot be
// loaded, the creation fails with
//   "InterBase library <name> not found in the path. Please install InterBase to use
//    this functionality"
// naming the library actually looked for. The process-wide instance stays loaded until
// the process ends; a failed load is tried again on the next call.
//
// Status vectors become EIBError exceptions whose message is the client library's text:
// the lines fb_interpret gives for the vector, joined with "\r\n" (the line break of the
// program's messages and of its CRLF log files), so a message box shows one line per
// line and a log that holds the message stays a well-formed CRLF file. Front ends treat
// "\r\n" (and a lone "\r") as one line break.
//
// Thread-safety: instance() may be called from any thread; the entry points themselves
// are thread-safe as fbclient documents them (one handle used by one thread at a time).
#pragma once

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace dovra {

// A failure reported by the client library or the database server.
class EIBError : public Exception {
 public:
  EIBError(const std::string& message, int32_t sqlCode, int64_t gdsCode)
      : Exception(message), sqlCode_(sqlCode), gdsCode_(gdsCode) {}
  // The SQL code the client library derives from the status (isc_sqlcode), e.g. -902.
  int32_t sqlCode() const { return sqlCode_; }
  // The first GDS code of the status vector, e.g. 335544472 (isc_login).
  int64_t gdsCode() const { return gdsCode_; }

 private:
  int32_t sqlCode_;
  int64_t gdsCode_;
};

// The entry points of fbclient, resolved from the loaded library. Each member has the
// type and the name of the ibase.h function it stands for.
class FbClient {
 public:
  // The name of the library to look for: $DOVRA_FBCLIENT when set and not empty, else
  // "libfbclient.so.2" ("gds32.dll" on Windows, where instance() looks for "fbclient.dll"
  // when that is not found).
  static std::string libraryName();

  // The message of a failed load of `name`.
  static std::string notFoundMessage(const std::string& name);

  // Loads the library `name` and resolves every entry point. Throws Exception with
  // notFoundMessage(name) when the library cannot be opened, and Exception("Entry point X
  // not found in <name>") when it lacks one of the functions.
  static std::unique_ptr<FbClient> load(const std::string& name);

  // The process-wide client, loaded from libraryName() on first use. Throws as load()
  // does; the next call then tries again.
  static const FbClient& instance();

  FbClient(const FbClient&) = delete;
  FbClient& operator=(const FbClient&) = delete;
  ~FbClient() = default;  // the library stays loaded (fbclient keeps threads of its own)

  const std::string& name() const { return name_; }

  // Throws the EIBError for `status` when it reports an error (status[0] == 1 and
  // status[1] != 0); does nothing otherwise.
  void check(const ISC_STATUS* status) const;
  // The EIBError for an error status.
  EIBError error(const ISC_STATUS* status) const;
  // The client library's text for a status: fb_interpret lines joined with "\r\n",
  // converted to UTF-8.
  std::string interpret(const ISC_STATUS* status) const;

  decltype(&::isc_attach_database) isc_attach_database = nullptr;
  decltype(&::isc_detach_database) isc_detach_database = nullptr;
  decltype(&::isc_drop_database) isc_drop_database = nullptr;
  decltype(&::isc_database_info) isc_database_info = nullptr;
  decltype(&::isc_start_transaction) isc_start_transaction = nullptr;
  decltype(&::isc_commit_transaction) isc_commit_transaction = nullptr;
  decltype(&::isc_commit_retaining) isc_commit_retaining = nullptr;
  decltype(&::isc_rollback_transaction) isc_rollback_transaction = nullptr;
  decltype(&::isc_dsql_allocate_statement) isc_dsql_allocate_statement = nullptr;
  decltype(&::isc_dsql_prepare) isc_dsql_prepare = nullptr;
  decltype(&::isc_dsql_describe) isc_dsql_describe = nullptr;
  decltype(&::isc_dsql_describe_bind) isc_dsql_describe_bind = nullptr;
  decltype(&::isc_dsql_sql_info) isc_dsql_sql_info = nullptr;
  decltype(&::isc_dsql_execute) isc_dsql_execute = nullptr;
  decltype(&::isc_dsql_execute2) isc_dsql_execute2 = nullptr;
  decltype(&::isc_dsql_execute_immediate) isc_dsql_execute_immediate = nullptr;
  decltype(&::isc_dsql_fetch) isc_dsql_fetch = nullptr;
  decltype(&::isc_dsql_free_statement) isc_dsql_free_statement = nullptr;
  decltype(&::isc_open_blob2) isc_open_blob2 = nullptr;
  decltype(&::isc_create_blob2) isc_create_blob2 = nullptr;
  decltype(&::isc_get_segment) isc_get_segment = nullptr;
  decltype(&::isc_put_segment) isc_put_segment = nullptr;
  decltype(&::isc_close_blob) isc_close_blob = nullptr;
  decltype(&::isc_cancel_blob) isc_cancel_blob = nullptr;
  decltype(&::isc_service_attach) isc_service_attach = nullptr;
  decltype(&::isc_service_detach) isc_service_detach = nullptr;
  decltype(&::isc_service_start) isc_service_start = nullptr;
  decltype(&::isc_service_query) isc_service_query = nullptr;
  decltype(&::fb_interpret) fb_interpret = nullptr;
  decltype(&::isc_sqlcode) isc_sqlcode = nullptr;

 private:
  FbClient() = default;
  std::string name_;
};

// A file name written into SQL text that the client library itself reads (the file of
// CREATE DATABASE, which no parameter block can mark UTF-8): in the process's ANSI code
// page, Windows-1252, on Windows, where the library converts it from there; the UTF-8 bytes
// as they are elsewhere.
std::string clientFileNameInSql(std::string_view utf8);

// Text that came from the client library or the server (messages, service output
// lines) as UTF-8: kept as it is when it is valid UTF-8, else taken as Windows-1252.
std::string clientTextToUtf8(std::string_view text);

}  // namespace dovra
