#include "firebird/ib_database.h"

#include <algorithm>

#include "firebird/block_bytes.h"
#include "firebird/ib_query.h"
#include "firebird/sql_params.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

void addStringItem(std::string& block, char tag, const std::string& name, std::string_view value) {
  if (value.size() > 255) throw Exception("DPB value too long: " + name);
  block += tag;
  block += static_cast<char>(value.size());
  block.append(value);
}

}  // namespace

IbDatabase::IbDatabase() : client_(FbClient::instance()) {}

IbDatabase::~IbDatabase() {
  Close();
}

std::string IbDatabase::buildDpb(const StringList& params, int dialect) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  // The database name is UTF-8, as the program holds it; without this a Windows client
  // reads it in the ANSI code page, and an accented folder names another file.
  dpb += static_cast<char>(isc_dpb_utf8_filename);
  dpb += static_cast<char>(0);
  bool characterSetGiven = false;
  for (size_t i = 0; i < params.Count(); ++i) {
    const std::string rawName = params.Names(i);
    if (isBlank(rawName)) continue;
    std::string name = lowerName(rawName);
    if (name.rfind("isc_dpb_", 0) == 0) name.erase(0, 8);
    const std::string value = params.ValueFromIndex(i);
    if (name == "user_name") {
      addStringItem(dpb, isc_dpb_user_name, name, utf8ToCp1252(value));
    } else if (name == "password") {
      addStringItem(dpb, isc_dpb_password, name, utf8ToCp1252(value));
    } else if (name == "lc_ctype") {
      addStringItem(dpb, isc_dpb_lc_ctype, name, value);
      characterSetGiven = true;
    } else if (name == "sql_role_name") {
      addStringItem(dpb, isc_dpb_sql_role_name, name, utf8ToCp1252(value));
    } else {
      throw Exception("DPB Constant Unknown");
    }
  }
  if (!characterSetGiven) addStringItem(dpb, isc_dpb_lc_ctype, "lc_ctype", "WIN1252");
  dpb += static_cast<char>(isc_dpb_sql_dialect);
  dpb += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) dpb += static_cast<char>((dialect >> (8 * i)) & 0xFF);
  return dpb;
}

void IbDatabase::Open() {
  Guard guard(mutex_);
  if (handle_ != 0) return;
  const std::string dpb = buildDpb(Params, SQLDialect);
  ISC_STATUS_ARRAY status{};
  isc_db_handle handle = 0;
  client_.isc_attach_database(status, 0, DatabaseName.c_str(), &handle,
                              static_cast<short>(dpb.size()), dpb.data());
  client_.check(status);
  handle_ = handle;
}

void IbDatabase::Close() {
  Guard guard(mutex_);
  if (handle_ == 0) return;
  endStatementsAndTransactions();
  ISC_STATUS_ARRAY status{};
  client_.isc_detach_database(status, &handle_);
  handle_ = 0;
}

void IbDatabase::endStatementsAndTransactions() {
  for (IbQuery* query : queries_) {
    query->Close();
    query->dropStatement();
  }
  ISC_STATUS_ARRAY status{};
  for (IbTransaction* transaction : transactions_) {
    if (transaction->handle_ != 0) {
      client_.isc_rollback_transaction(status, &transaction->handle_);
      transaction->handle_ = 0;
    }
  }
}

bool IbDatabase::Connected() const {
  Guard guard(mutex_);
  return handle_ != 0;
}

void IbDatabase::CreateDatabase(int pageSize, const std::string& characterSet) {
  Guard guard(mutex_);
  Close();
  std::string sql = "CREATE DATABASE " + sqlQuote(clientFileNameInSql(DatabaseName));
  const std::string user = Params.Values("user_name");
  const std::string password = Params.Values("password");
  if (!user.empty()) sql += " USER " + sqlQuote(utf8ToCp1252(user));
  if (!password.empty()) sql += " PASSWORD " + sqlQuote(utf8ToCp1252(password));
  sql += " PAGE_SIZE " + std::to_string(pageSize);
  sql += " DEFAULT CHARACTER SET " + characterSet;
  ISC_STATUS_ARRAY status{};
  isc_db_handle handle = 0;
  isc_tr_handle transaction = 0;
  client_.isc_dsql_execute_immediate(status, &handle, &transaction, 0, sql.c_str(),
                                     static_cast<unsigned short>(SQLDialect), nullptr);
  client_.check(status);
  // Reattach with the ordinary parameter block, so the character set and dialect of the
  // connection are those of every other connection.
  client_.isc_detach_database(status, &handle);
  Open();
}

void IbDatabase::DropDatabase() {
  Guard guard(mutex_);
  if (handle_ == 0) throw Exception("Database not connected");
  endStatementsAndTransactions();
  ISC_STATUS_ARRAY status{};
  client_.isc_drop_database(status, &handle_);
  client_.check(status);
  handle_ = 0;
}

int64_t IbDatabase::DatabaseSize() {
  Guard guard(mutex_);
  if (handle_ == 0) throw Exception("Database not connected");
  const char items[] = {isc_info_allocation, isc_info_page_size, isc_info_end};
  char buffer[64];
  ISC_STATUS_ARRAY status{};
  client_.isc_database_info(status, &handle_, sizeof items, items, sizeof buffer, buffer);
  client_.check(status);
  int64_t pages = 0;
  int64_t pageSize = 0;
  size_t pos = 0;
  while (pos + 3 <= sizeof buffer && buffer[pos] != isc_info_end) {
    const char item = buffer[pos];
    const auto length = static_cast<size_t>(littleEndian(buffer + pos + 1, 2) & 0xFFFF);
    if (pos + 3 + length > sizeof buffer) break;
    const int64_t value = littleEndian(buffer + pos + 3, length);
    if (item == isc_info_allocation) pages = value;
    if (item == isc_info_page_size) pageSize = value;
    pos += 3 + length;
  }
  return pages * pageSize;
}

IbTransaction::IbTransaction(IbDatabase& database) : database_(database) {
  Guard guard(database_.mutex_);
  database_.transactions_.push_back(this);
}

IbTransaction::~IbTransaction() {
  Guard guard(database_.mutex_);
  if (handle_ != 0) {
    closeDatasets();
    ISC_STATUS_ARRAY status{};
    database_.client_.isc_rollback_transaction(status, &handle_);
    handle_ = 0;
  }
  auto& list = database_.transactions_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

bool IbTransaction::Active() const {
  Guard guard(database_.mutex_);
  return handle_ != 0;
}

void IbTransaction::requireActive() const {
  if (handle_ == 0) throw Exception("Transaction is not active");
}

void IbTransaction::StartTransaction() {
  Guard guard(database_.mutex_);
  if (handle_ != 0) throw Exception("Transaction is active");
  if (database_.handle_ == 0) throw Exception("Database not connected");
  ISC_STATUS_ARRAY status{};
  isc_tr_handle handle = 0;
  database_.client_.isc_start_transaction(status, &handle, 1, &database_.handle_, 0, nullptr);
  database_.client_.check(status);
  handle_ = handle;
}

void IbTransaction::closeDatasets() {
  for (IbQuery* query : database_.queries_) {
    if (&query->transaction_ == this) query->Close();
  }
}

void IbTransaction::Commit() {
  Guard guard(database_.mutex_);
  requireActive();
  closeDatasets();
  ISC_STATUS_ARRAY status{};
  database_.client_.isc_commit_transaction(status, &handle_);
  database_.client_.check(status);
  handle_ = 0;
}

void IbTransaction::CommitRetaining() {
  Guard guard(database_.mutex_);
  requireActive();
  ISC_STATUS_ARRAY status{};
  database_.client_.isc_commit_retaining(status, &handle_);
  database_.client_.check(status);
}

void IbTransaction::Rollback() {
  Guard guard(database_.mutex_);
  requireActive();
  closeDatasets();
  ISC_STATUS_ARRAY status{};
  database_.client_.isc_rollback_transaction(status, &handle_);
  database_.client_.check(status);
  handle_ = 0;
}

}  // namespace dovra
