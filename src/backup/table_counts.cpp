#include "backup/table_counts.h"
#include "platform/trim.h"

#include <charconv>
#include <cstring>

namespace dovra {
TableCountReader::TableCountReader(Source source)
    : tableMarker_(source == Source::Backup ? "writing data for table "
                                            : "restoring data for table "),
      countMarker_(source == Source::Backup ? " records written" : " records restored") {}

void TableCountReader::line(const std::string& text) {
  if (const size_t at = text.find(tableMarker_); at != std::string::npos) {
    table_ = trimText(std::string_view(text).substr(at + std::strlen(tableMarker_)));
    if (!table_.empty()) counts_.emplace(table_, 0);
    return;
  }
  const size_t at = text.find(countMarker_);
  if (at == std::string::npos || table_.empty()) return;
  // "gbak:   10000 records restored": the number stands between the prefix and the marker.
  size_t end = at;
  size_t begin = end;
  while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9') --begin;
  int64_t count = 0;
  if (begin == end ||
      std::from_chars(text.data() + begin, text.data() + end, count).ec != std::errc()) {
    return;
  }
  counts_[table_] = count;
}

std::string compareTableCounts(const TableCounts& backedUp, const TableCounts& restored) {
  const auto differs = [](const std::string& table, int64_t expected, int64_t got) {
    return "Tabela " + table + ": " + std::to_string(expected) + " registros no backup, " +
           std::to_string(got) + " restaurados";
  };
  for (const auto& [table, expected] : backedUp) {
    const auto found = restored.find(table);
    const int64_t got = found == restored.end() ? 0 : found->second;
    if (got != expected) return differs(table, expected, got);
  }
  for (const auto& [table, got] : restored) {
    if (backedUp.count(table) == 0) return differs(table, 0, got);
  }
  return {};
}

int64_t totalRecords(const TableCounts& counts) {
  int64_t total = 0;
  for (const auto& [table, count] : counts) total += count;
  return total;
}

}  // namespace dovra
