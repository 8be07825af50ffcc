#include "firebird/erp_connections.h"

namespace dovra {

void connectDatabase(IbDatabase& db, const std::string& location, const std::string& user,
                     const std::string& password) {
  std::lock_guard lock(db.lock());
  db.Close();
  db.DatabaseName = location;
  db.Params.Clear();
  db.Params.Add("user_name=" + user);
  db.Params.Add("password=" + password);
  db.Open();
}

std::string firstRowText(IbQuery& query, std::string_view sql, size_t column) {
  query.Close();
  query.SetSQL(sql);
  query.Open();
  return query.Fields[column].AsString();
}

int32_t firstRowInteger(IbQuery& query, std::string_view sql, size_t column) {
  query.Close();
  query.SetSQL(sql);
  query.Open();
  return query.Fields[column].AsInteger();
}

}  // namespace dovra
