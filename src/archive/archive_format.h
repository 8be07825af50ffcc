// Layout of the ".zlib" backup archive, shared by its writer and its reader.
//
//   archive := count entry{count}
//   entry   := nameLength name[nameLength] size zlibStream
//
// count, nameLength and size are 32-bit two's complement integers, little-endian, read as
// signed. The name is the bare file name in Windows-1252 bytes, without terminator. The
// zlib stream (RFC 1950) holds exactly `size` bytes. Its compressed length is stored
// nowhere: an entry ends where its zlib stream ends, after the Adler-32 trailer, and the
// next entry starts on the next byte. There is no magic number, version, padding, footer or
// checksum over the whole file.
//
// The writer makes every stream with deflate, window bits 15, zlib's default level and
// memory level 8, default strategy, no preset dictionary, so each begins 78 9C; the reader
// accepts any valid zlib stream.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace dovra::archive {

inline constexpr size_t kFieldSize = 4;
// Largest input the size field can record: 2 GiB - 1.
inline constexpr int64_t kMaxEntrySize = 0x7FFFFFFF;
// The zlib streams' buffer: compressed output when writing, compressed input when reading.
inline constexpr size_t kZlibBufferSize = 65536;
// Block size of the copies between files and zlib streams.
inline constexpr size_t kCopyBlockSize = 61440;

inline constexpr int kCompressionLevel = Z_DEFAULT_COMPRESSION;
inline constexpr int kWindowBits = 15;
inline constexpr int kMemLevel = 8;
inline constexpr int kStrategy = Z_DEFAULT_STRATEGY;
// The two bytes every written stream starts with (deflate, 32 KiB window, default level).
inline constexpr unsigned char kZlibHeader[2] = {0x78, 0x9C};

// Longest name the reader accepts. Windows paths stop at 260 characters; a larger length
// field is damage, and the reader refuses it before allocating anything.
inline constexpr int32_t kMaxNameLength = 1024;

// The archive holds something no writer of this format produces (a hostile or damaged
// name, a negative length or size); nothing of that entry is written.
class EInvalidArchive : public Exception {
 public:
  using Exception::Exception;
};

inline void putInt32(unsigned char* p, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline int32_t getInt32(const unsigned char* p) {
  const uint32_t v =
      uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return static_cast<int32_t>(v);
}

// The entry name for an input path: what follows its last "\", "/" or ":". Same encoding as
// the path.
std::string_view entryNameOf(std::string_view path);

// Whether the reader may create a file of this name (Windows-1252 bytes) inside its
// destination folder: not empty, not "." or "..", no "/", "\", ":" or NUL.
bool isSafeEntryName(std::string_view name);

}  // namespace dovra::archive
