// Streams that compress into, or decompress from, another stream with zlib, one zlib
// stream (RFC 1950) each.
//
// A zlib stream object does not own the underlying stream, which must outlive it. It
// remembers the underlying stream's position after each of its own transfers and moves the
// underlying stream back there before the next one, so the caller may read or write the
// underlying stream in between. Its buffer of compressed bytes is 65,536 bytes. The
// progress event runs on the thread that calls read or write. One thread at a time.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "archive/stream.h"

namespace dovra {

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};
class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

class TCustomZlibStream : public Stream {
 public:
  using ProgressEvent = std::function<void(TCustomZlibStream& sender)>;

  TCustomZlibStream(const TCustomZlibStream&) = delete;
  TCustomZlibStream& operator=(const TCustomZlibStream&) = delete;

  // Called as each buffer of compressed bytes is transferred (see the subclasses).
  ProgressEvent OnProgress;

 protected:
  explicit TCustomZlibStream(Stream& strm);
  void progress();

  Stream& strm_;
  int64_t strmPos_;
  z_stream zrec_{};
  std::unique_ptr<unsigned char[]> buffer_;
};

enum class CompressionLevel { clNone, clFastest, clDefault, clMax };

// Compresses what is written to it into `dest`. finish() must be called to complete the
// stream; destroying it without finish() only releases zlib's state and leaves an
// incomplete stream in `dest`.
//
// The progress event fires from write(), once for each full 65,536-byte buffer written to
// the destination, never from finish(): a stream whose compressed form is shorter than
// 65,536 bytes fires none.
class TCompressionStream : public TCustomZlibStream {
 public:
  // Deflate at `level` (none 0, fastest 1, default 6, max 9), window bits 15, memory
  // level 8, default strategy. Throws ECompressionError "Error".
  TCompressionStream(CompressionLevel level, Stream& dest);
  ~TCompressionStream() override;

  // Always throws ECompressionError "Invalid stream operation".
  size_t read(void* buffer, size_t count) override;
  // Returns count. Throws ECompressionError "Error" or EWriteError "Stream write error".
  size_t write(const void* buffer, size_t count) override;
  // Only seek(0, Current) is allowed: returns the number of input bytes taken so far.
  // Anything else throws ECompressionError "Invalid stream operation".
  int64_t seek(int64_t offset, SeekOrigin origin) override;

  // Writes the rest of the zlib stream and its Adler-32 trailer. Further writes throw.
  void finish();

  uint64_t bytesIn() const { return zrec_.total_in; }
  uint64_t bytesOut() const { return zrec_.total_out; }

 private:
  void flushBuffer(size_t count);
  bool finished_ = false;
};

// Decompresses one zlib stream read from `source`, starting at the source's position at
// creation. The source is read in blocks of 65,536 bytes; the progress event fires as each
// block has been read, before it is inflated, so position() is what had been produced
// before that block.
//
// The stream ends where the zlib stream ends: read() then returns fewer bytes than asked
// and ended() turns true (the Adler-32 trailer is consumed and verified). close() — or the
// destructor — sets the source back by the bytes read ahead that zlib did not use, so the
// source then stands on the first byte after the zlib stream.
class TDecompressionStream : public TCustomZlibStream {
 public:
  // Throws EDecompressionError "Error".
  explicit TDecompressionStream(Stream& source);
  // Gives back the unused input as close() does, ignoring failures, and releases zlib.
  ~TDecompressionStream() override;

  // Returns the number of bytes produced: `count`, or fewer when the zlib stream ends or the
  // source runs out. Corrupt data or a wrong Adler-32 throws EDecompressionError "Error".
  size_t read(void* buffer, size_t count) override;
  // Always throws EDecompressionError "Invalid stream operation".
  size_t write(const void* buffer, size_t count) override;
  // Only seek(0, Current) is allowed: returns the number of bytes produced so far.
  // Anything else throws EDecompressionError "Invalid stream operation".
  int64_t seek(int64_t offset, SeekOrigin origin) override;

  // Whether zlib reached the end of the stream (trailer consumed, checksum matched).
  bool ended() const { return ended_; }
  // Compressed bytes consumed so far (the whole stream once ended()).
  uint64_t bytesIn() const { return zrec_.total_in; }
  // Sets the source back by the bytes read but not used. Throws on a seek failure.
  void close();

 private:
  bool ended_ = false;
  bool closed_ = false;
};

}  // namespace dovra
