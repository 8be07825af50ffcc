// What an automatic backup knew of the archive it made, kept beside it as
// <archive>.verify so that the archive can be checked later, in idle time and after a
// restart: the archive's size and CRC-32 (it must be the very file the backup wrote), its
// first entry (the main database's backup) with its size, the record counts the backup's
// verbose lines reported for each table, and how far its check went.
//
// The file is ours alone: text lines in UTF-8, written atomically.
//   archive <size> <crc32, 8 hex digits>
//   entry <size> <name>
//   table <count> <name>          (one line per table)
//   state pending|verified|failed
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "backup/table_counts.h"

namespace dovra {

struct ArchiveRecord {
  enum class State { Pending, Verified, Failed };

  int64_t archiveSize = 0;
  uint32_t archiveCrc = 0;
  std::string mainEntry;
  int64_t mainEntrySize = 0;
  TableCounts tables;
  State state = State::Pending;
};

// The record of `archivePath`: archivePath + ".verify".
std::string archiveRecordPath(const std::string& archivePath);

// Writes the record atomically. Throws std::system_error when it cannot be written.
void saveArchiveRecord(const std::string& path, const ArchiveRecord& record);

// The record at `path`; nothing when there is none or it cannot be read as one.
std::optional<ArchiveRecord> loadArchiveRecord(const std::string& path);

// The CRC-32 (zlib's) of a whole file. Throws the archive layer's open and read errors.
uint32_t fileCrc32(const std::string& path);

}  // namespace dovra
