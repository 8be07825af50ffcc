// The ERP database objects of the main window: `Banco` (main database) with `TBanco` and
// `Query1`, and `banconfe` (NF-e database) with `tnfe`, `qnfe` and `qnfe2`.
//
// A connection is used by one thread at a time: a job holds the connection's lock()
// for all the statements it runs, so the start sequence, the daily upload, the NF-e
// export and the manual backup never interleave statements on one connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "firebird/ib_database.h"
#include "firebird/ib_query.h"

namespace dovra {

struct ErpConnections {
  // Loads the client library; throws its not-found error when it cannot.
  ErpConnections() = default;

  IbDatabase Banco;
  IbTransaction TBanco{Banco};
  IbQuery Query1{Banco, TBanco};

  IbDatabase banconfe;
  IbTransaction tnfe{banconfe};
  IbQuery qnfe{banconfe, tnfe};
  IbQuery qnfe2{banconfe, tnfe};
};

// Connects `db` as the program always does: closed first, the database name set, the
// parameter lines replaced by exactly "user_name=" + user and "password=" + password,
// then opened. Throws the client's error.
void connectDatabase(IbDatabase& db, const std::string& location, const std::string& user,
                     const std::string& password);

// Runs a select on `query` (closed, text replaced, opened) and returns column `column` of
// its first row as text; "" when there is no row or the value is NULL. The query is left
// open on that row.
std::string firstRowText(IbQuery& query, std::string_view sql, size_t column = 0);
// The same, as an integer (0 without a row).
int32_t firstRowInteger(IbQuery& query, std::string_view sql, size_t column = 0);

// How a worker reaches the ERP connections: made on first use, so the call throws when the
// client library cannot be loaded. Any thread.
using ErpAccess = std::function<ErpConnections&()>;

}  // namespace dovra
