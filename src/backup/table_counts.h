// Record counts per table, as the service's verbose lines tell them: a backup's
// ("writing data for table X", then "N records written" every 10,000 records and at the
// end) or a restore's ("restoring data for table X", then "N records restored"). A table
// the backup found empty has a count of 0; a restore says nothing of such a table.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace dovra {

using TableCounts = std::map<std::string, int64_t>;

class TableCountReader {
 public:
  enum class Source { Backup, Restore };
  explicit TableCountReader(Source source);

  // Takes one output line of the service, in order.
  void line(const std::string& text);
  const TableCounts& counts() const { return counts_; }

 private:
  const char* tableMarker_;
  const char* countMarker_;
  std::string table_;  // the table whose data is being written or restored
  TableCounts counts_;
};

// "" when `restored` holds every table of `backedUp` with the same count (a table absent
// from `restored` counts 0) and no other table; otherwise the first difference, as
// "Tabela X: N registros no backup, M restaurados".
std::string compareTableCounts(const TableCounts& backedUp, const TableCounts& restored);

// The records of all tables.
int64_t totalRecords(const TableCounts& counts);

}  // namespace dovra
