#include "archive/zlib_stream.h"

#include <algorithm>
#include <limits>

#include "archive/archive_format.h"

namespace dovra {

namespace {

constexpr const char* kInvalidOperation = "Invalid stream operation";
constexpr const char* kZlibFailure = "Error";

int zlibLevel(CompressionLevel level) {
  switch (level) {
    case CompressionLevel::clNone:
      return Z_NO_COMPRESSION;
    case CompressionLevel::clFastest:
      return Z_BEST_SPEED;
    case CompressionLevel::clMax:
      return Z_BEST_COMPRESSION;
    case CompressionLevel::clDefault:
      break;
  }
  return Z_DEFAULT_COMPRESSION;
}

// zlib counts in uInt; the callers' counts are size_t.
constexpr size_t kMaxChunk = std::numeric_limits<uInt>::max();

}  // namespace

TCustomZlibStream::TCustomZlibStream(Stream& strm)
    : strm_(strm),
      strmPos_(strm.position()),
      buffer_(new unsigned char[archive::kZlibBufferSize]) {}

void TCustomZlibStream::progress() {
  if (OnProgress) OnProgress(*this);
}

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(CompressionLevel level, Stream& dest)
    : TCustomZlibStream(dest) {
  zrec_.next_out = buffer_.get();
  zrec_.avail_out = archive::kZlibBufferSize;
  if (deflateInit2(&zrec_, zlibLevel(level), Z_DEFLATED, archive::kWindowBits, archive::kMemLevel,
                   archive::kStrategy) < 0) {
    throw ECompressionError(kZlibFailure);
  }
}

TCompressionStream::~TCompressionStream() {
  deflateEnd(&zrec_);
}

size_t TCompressionStream::read(void*, size_t) {
  throw ECompressionError(kInvalidOperation);
}

void TCompressionStream::flushBuffer(size_t count) {
  strm_.writeBuffer(buffer_.get(), count);
  zrec_.next_out = buffer_.get();
  zrec_.avail_out = archive::kZlibBufferSize;
  strmPos_ = strm_.position();
}

size_t TCompressionStream::write(const void* buffer, size_t count) {
  if (finished_) throw ECompressionError(kInvalidOperation);
  if (strm_.position() != strmPos_) strm_.setPosition(strmPos_);
  auto* in = static_cast<Bytef*>(const_cast<void*>(buffer));
  size_t left = count;
  while (left > 0) {
    const size_t chunk = std::min(left, kMaxChunk);
    zrec_.next_in = in;
    zrec_.avail_in = static_cast<uInt>(chunk);
    while (zrec_.avail_in > 0) {
      if (deflate(&zrec_, Z_NO_FLUSH) < 0) throw ECompressionError(kZlibFailure);
      if (zrec_.avail_out == 0) {
        flushBuffer(archive::kZlibBufferSize);
        progress();
      }
    }
    in += chunk;
    left -= chunk;
  }
  return count;
}

int64_t TCompressionStream::seek(int64_t offset, SeekOrigin origin) {
  if (offset == 0 && origin == SeekOrigin::Current) return static_cast<int64_t>(zrec_.total_in);
  throw ECompressionError(kInvalidOperation);
}

void TCompressionStream::finish() {
  if (finished_) return;
  zrec_.next_in = nullptr;
  zrec_.avail_in = 0;
  if (strm_.position() != strmPos_) strm_.setPosition(strmPos_);
  for (;;) {
    const int r = deflate(&zrec_, Z_FINISH);
    if (r < 0 && r != Z_BUF_ERROR) throw ECompressionError(kZlibFailure);
    if (r == Z_STREAM_END || zrec_.avail_out != 0) break;
    flushBuffer(archive::kZlibBufferSize);
  }
  const size_t pending = archive::kZlibBufferSize - zrec_.avail_out;
  if (pending > 0) flushBuffer(pending);
  finished_ = true;
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(Stream& source) : TCustomZlibStream(source) {
  zrec_.next_in = buffer_.get();
  zrec_.avail_in = 0;
  if (inflateInit(&zrec_) < 0) throw EDecompressionError(kZlibFailure);
}

TDecompressionStream::~TDecompressionStream() {
  try {
    close();
  } catch (...) {
    // The caller that cares about the source's position calls close() itself.
  }
  inflateEnd(&zrec_);
}

size_t TDecompressionStream::read(void* buffer, size_t count) {
  if (closed_) throw EDecompressionError(kInvalidOperation);
  count = std::min(count, kMaxChunk);
  zrec_.next_out = static_cast<Bytef*>(buffer);
  zrec_.avail_out = static_cast<uInt>(count);
  if (strm_.position() != strmPos_) strm_.setPosition(strmPos_);
  while (zrec_.avail_out > 0 && !ended_) {
    bool sourceDry = false;
    if (zrec_.avail_in == 0) {
      const size_t n = strm_.read(buffer_.get(), archive::kZlibBufferSize);
      if (n == 0) {
        sourceDry = true;
      } else {
        zrec_.next_in = buffer_.get();
        zrec_.avail_in = static_cast<uInt>(n);
        strmPos_ = strm_.position();
        progress();
      }
    }
    const uInt outBefore = zrec_.avail_out;
    const int r = inflate(&zrec_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      ended_ = true;
    } else if (r == Z_NEED_DICT || (r < 0 && r != Z_BUF_ERROR)) {
      throw EDecompressionError(kZlibFailure);
    } else if (sourceDry && zrec_.avail_out == outBefore) {
      break;  // the source ended inside the zlib stream
    }
  }
  return count - zrec_.avail_out;
}

size_t TDecompressionStream::write(const void*, size_t) {
  throw EDecompressionError(kInvalidOperation);
}

int64_t TDecompressionStream::seek(int64_t offset, SeekOrigin origin) {
  if (offset == 0 && origin == SeekOrigin::Current) return static_cast<int64_t>(zrec_.total_out);
  throw EDecompressionError(kInvalidOperation);
}

void TDecompressionStream::close() {
  if (closed_) return;
  closed_ = true;
  strm_.setPosition(strmPos_ - static_cast<int64_t>(zrec_.avail_in));
  zrec_.avail_in = 0;
}

}  // namespace dovra
