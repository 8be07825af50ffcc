#include "backup/archive_record.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>
#include <memory>
#include <system_error>

#include "archive/stream.h"
#include "platform/files.h"

namespace dovra {
namespace {

const char* stateName(ArchiveRecord::State state) {
  switch (state) {
    case ArchiveRecord::State::Verified:
      return "verified";
    case ArchiveRecord::State::Failed:
      return "failed";
    case ArchiveRecord::State::Pending:
      break;
  }
  return "pending";
}

// Splits "<word> <number> <rest>"; false when the line is not of that shape.
bool splitLine(std::string_view line, std::string_view& word, int64_t& number,
               std::string_view& rest) {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  word = line.substr(0, space);
  std::string_view tail = line.substr(space + 1);
  const size_t next = tail.find(' ');
  const std::string_view digits = tail.substr(0, next);
  rest = next == std::string_view::npos ? std::string_view() : tail.substr(next + 1);
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size() && !digits.empty();
}

}  // namespace

std::string archiveRecordPath(const std::string& archivePath) {
  return archivePath + ".verify";
}

void saveArchiveRecord(const std::string& path, const ArchiveRecord& record) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", record.archiveCrc);
  std::string text = "archive " + std::to_string(record.archiveSize) + " " + crc + "\n";
  text += "entry " + std::to_string(record.mainEntrySize) + " " + record.mainEntry + "\n";
  for (const auto& [table, count] : record.tables) {
    text += "table " + std::to_string(count) + " " + table + "\n";
  }
  text += std::string("state ") + stateName(record.state) + "\n";
  writeFileAtomically(path, text);
}

std::optional<ArchiveRecord> loadArchiveRecord(const std::string& path) {
  std::string text;
  try {
    text = readWholeFile(path);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  ArchiveRecord record;
  bool archive = false, entry = false, state = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) return std::nullopt;  // cut short
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    std::string_view word, rest;
    int64_t number = 0;
    const bool split = splitLine(line, word, number, rest);
    if (line.rfind("state ", 0) == 0) {
      const std::string_view name = line.substr(6);
      if (name == "verified") {
        record.state = ArchiveRecord::State::Verified;
      } else if (name == "failed") {
        record.state = ArchiveRecord::State::Failed;
      } else if (name != "pending") {
        return std::nullopt;
      }
      state = true;
    } else if (split && word == "archive") {
      uint32_t crc = 0;
      const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), crc, 16);
      if (rest.empty() || r.ec != std::errc() || r.ptr != rest.data() + rest.size()) {
        return std::nullopt;
      }
      record.archiveSize = number;
      record.archiveCrc = crc;
      archive = true;
    } else if (split && word == "entry" && !rest.empty()) {
      record.mainEntrySize = number;
      record.mainEntry = std::string(rest);
      entry = true;
    } else if (split && word == "table" && !rest.empty()) {
      record.tables[std::string(rest)] = number;
    } else {
      return std::nullopt;
    }
  }
  if (!archive || !entry || !state) return std::nullopt;
  return record;
}

uint32_t fileCrc32(const std::string& path) {
  FileStream in = FileStream::openRead(path);
  constexpr size_t kBlock = 1 << 20;
  std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (;;) {
    const size_t n = in.read(block.get(), kBlock);
    if (n == 0) break;
    crc = crc32(crc, block.get(), static_cast<uInt>(n));
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace dovra
