// The reader of the ".zlib" backup archive (layout in archive_format.h): unpacking,
// listing and verifying, and the texts of the unpack page's two labels.
//
// The archive is read in one pass with fixed memory (a 65,536-byte input buffer, 61,440-byte
// copy blocks and zlib's window), whatever its size or number of entries. Each entry's end
// is found from its zlib stream, which is inflated through its Adler-32 trailer.
//
// Damage stops the reading with an exception carrying the text the operator sees:
//   "Cannot open file "<archive>". <system text>"  the archive cannot be opened
//   "Stream read error"      the archive ends inside an entry's fields or its zlib stream,
//                            or the zlib stream ends before the entry's size
//   "Error"                  corrupt compressed data, a wrong Adler-32, or a zlib stream
//                            holding more bytes than the entry's size
//   EInvalidArchive texts    a name length that is negative, 0 or over 1024 bytes, a
//                            negative size, a name that is ".", ".." or holds "/", "\",
//                            ":" or NUL
// All functions run on the caller's thread; the observer is called on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dovra {

struct ArchiveEntry {
  std::string name;             // UTF-8
  int64_t size = 0;             // uncompressed size S
  uint64_t compressedSize = 0;  // bytes of its zlib stream
};

// What DecompressFiles reports while it runs. Every method does nothing by default.
class DecompressObserver {
 public:
  virtual ~DecompressObserver() = default;
  // Entry `index` (1-based) of `count` begins; its fields are not read yet.
  virtual void entryStarted(int32_t /*index*/, int32_t /*count*/) {}
  // The entry's fields are read: its name (UTF-8) and its uncompressed size S.
  virtual void entrySize(const std::string& /*name*/, int64_t /*size*/) {}
  // A block of the archive was read for the current entry, before it is inflated;
  // `position` is the number of the entry's bytes produced until then.
  virtual void progress(uint64_t /*position*/) {}
  // Every entry is unpacked.
  virtual void finished() {}
};

// Unpacks every entry of the archive into `destFolder` under its stored name (Windows-1252
// bytes shown as UTF-8), replacing an existing file of that name; a later entry of the same
// name replaces an earlier one. A count of 0 or less means no entries.
//
// Each file is written under a temporary name in `destFolder`, forced to disk, and renamed
// into place only once its entry is complete and its size and Adler-32 verified: a damaged
// entry never replaces a good file, and nothing is left under a temporary name. Entries
// unpacked before a failure stay. Nothing is ever written outside `destFolder`.
// An existing file of an entry's name that may not be written (a read-only file, a
// folder) is not replaced: the unpacking stops there with "Cannot create file
// "<destFolder>/<name>". <system text>", as when the file cannot be created; besides the
// damage texts above, "Stream write error".
void DecompressFiles(const std::string& archivePath, const std::string& destFolder,
                     DecompressObserver* observer = nullptr);

// The entries of the archive, in order. Because the compressed length is not stored, this
// inflates every entry (writing nothing) and so reports damage as DecompressFiles does.
std::vector<ArchiveEntry> listArchive(const std::string& archivePath);

// Inflates every entry without writing files and checks its size and Adler-32; throws on
// the first damage, returns the entries otherwise.
std::vector<ArchiveEntry> verifyArchive(const std::string& archivePath);

// The first entry of an archive as a stream, for a consumer that pulls its bytes (a
// restore fed straight from the archive, with no copy on disk). The entry's fields are
// checked as DecompressFiles checks them when the reader is made, its size and Adler-32
// when its last byte has been read; damage throws the texts above, and an archive without
// entries "Arquivo compactado danificado: nenhuma entrada". One thread at a time.
class FirstEntryReader {
 public:
  explicit FirstEntryReader(const std::string& archivePath);
  ~FirstEntryReader();
  FirstEntryReader(const FirstEntryReader&) = delete;
  FirstEntryReader& operator=(const FirstEntryReader&) = delete;

  const ArchiveEntry& entry() const { return entry_; }
  // Puts up to `max` bytes of the entry into `buffer`; 0 once the whole entry has been read
  // and verified.
  size_t read(void* buffer, size_t max);

 private:
  struct State;
  std::unique_ptr<State> s_;
  ArchiveEntry entry_;
};

// `lbDecompress` while entry `index` of `count` is unpacked: "Descomprimindo: 1 de 2".
std::string decompressCounterText(int32_t index, int32_t count);
// `lbDecompress` after the last entry.
inline constexpr std::string_view kDecompressDoneText = "Concluído";

// `lbStatusDecompres` for `position` bytes produced of an entry of `size` bytes: the
// percentage position × 100 ÷ size, rounded to four decimals and then to a whole number
// (halves away from zero), with "." as thousands separator and no percent sign ("37",
// "1.234"). An entry of size 0 (or less) shows "100": there is nothing left to produce.
std::string decompressPercentText(uint64_t position, int64_t size);

}  // namespace dovra
