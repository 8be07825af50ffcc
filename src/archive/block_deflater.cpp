#include "archive/block_deflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "archive/archive_format.h"

#ifdef DOVRA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace dovra {

namespace {

// zlib's own path: raw deflate primed with the preceding input, sync flush or finish.
bool zlibBlock(z_stream& z, const unsigned char* data, size_t len, size_t dictLen, bool last,
               std::vector<unsigned char>& out, size_t& outLen) {
  if (deflateReset(&z) != Z_OK) return false;
  if (dictLen > 0 && deflateSetDictionary(&z, data - dictLen, static_cast<uInt>(dictLen)) != Z_OK) {
    return false;
  }
  z.next_in = const_cast<unsigned char*>(data);
  z.avail_in = static_cast<uInt>(len);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  outLen = 0;
  for (;;) {
    if (out.size() - outLen < 64) out.resize(out.size() + 65536);
    z.next_out = out.data() + outLen;
    z.avail_out = static_cast<uInt>(out.size() - outLen);
    const int r = deflate(&z, flush);
    outLen = out.size() - z.avail_out;
    if (r < 0 && r != Z_BUF_ERROR) return false;
    if (last ? r == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0)) break;
  }
  return true;
}

#ifdef DOVRA_HAVE_LIBDEFLATE

// Where the final block of a complete raw deflate stream starts and where it ends, in bits
// from the start, found by inflating the stream block by block; the inflated bytes are
// compared with `original` on the way. False when the stream does not inflate to exactly
// `original`.
bool findFinalBlock(z_stream& inflater, const unsigned char* stream, size_t streamLen,
                    const unsigned char* original, size_t originalLen, size_t& finalStart,
                    size_t& finalEnd) {
  if (inflateReset(&inflater) != Z_OK) return false;
  unsigned char scratch[16384];
  inflater.next_in = const_cast<unsigned char*>(stream);
  inflater.avail_in = static_cast<uInt>(streamLen);
  size_t compared = 0;
  finalStart = 0;
  for (;;) {
    inflater.next_out = scratch;
    inflater.avail_out = sizeof scratch;
    const int r = inflate(&inflater, Z_BLOCK);
    const size_t produced = sizeof scratch - inflater.avail_out;
    if (produced > originalLen - compared ||
        std::memcmp(scratch, original + compared, produced) != 0) {
      return false;
    }
    compared += produced;
    if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && produced > 0)) return false;
    // Bit 128: stopped on a block boundary; bit 64: the final block has been entered; the
    // low bits: what is left unread of the last byte taken.
    if (inflater.data_type & 128) {
      const size_t at = size_t{inflater.total_in} * 8 - (inflater.data_type & 63);
      if (inflater.data_type & 64) {
        finalEnd = at;
        return compared == originalLen;
      }
      finalStart = at;
    }
    if (r == Z_STREAM_END) return false;  // ended without the boundary after the last block
    if (inflater.avail_in == 0 && produced == 0) return false;
  }
}

// Turns the complete stream in out[0, outLen) into a block that others may follow: the
// final block becomes an ordinary one and an empty stored block brings the end to a byte
// boundary.
void makeJoinable(std::vector<unsigned char>& out, size_t& outLen, size_t finalStart,
                  size_t finalEnd) {
  out[finalStart / 8] &= static_cast<unsigned char>(~(1u << (finalStart % 8)));
  const size_t used = finalEnd % 8;  // bits of the last byte that belong to the stream
  outLen = (finalEnd + 7) / 8;
  if (used != 0) out[outLen - 1] &= static_cast<unsigned char>((1u << used) - 1);
  // The stored block's 3 header bits (all zero) fit in what is left of the last byte, or
  // take a new one; the rest of that byte is padding.
  if (used == 0 || used > 5) out[outLen++] = 0;
  static constexpr unsigned char kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(out.data() + outLen, kEmptyStored, sizeof kEmptyStored);
  outLen += sizeof kEmptyStored;
}

#endif

}  // namespace

struct BlockDeflater::State {
  z_stream deflater{};
  bool deflaterReady = false;
#ifdef DOVRA_HAVE_LIBDEFLATE
  libdeflate_compressor* fast = nullptr;
  z_stream inflater{};
  bool inflaterReady = false;
#endif

  State() {
    deflaterReady =
        deflateInit2(&deflater, archive::kCompressionLevel, Z_DEFLATED, -archive::kWindowBits,
                     archive::kMemLevel, archive::kStrategy) == Z_OK;
#ifdef DOVRA_HAVE_LIBDEFLATE
    fast = libdeflate_alloc_compressor(6);  // zlib's default level
    inflaterReady = inflateInit2(&inflater, -archive::kWindowBits) == Z_OK;
#endif
  }

  ~State() {
    if (deflaterReady) deflateEnd(&deflater);
#ifdef DOVRA_HAVE_LIBDEFLATE
    if (fast) libdeflate_free_compressor(fast);
    if (inflaterReady) inflateEnd(&inflater);
#endif
  }

  bool fastBlock(const unsigned char* data, size_t len, bool last, std::vector<unsigned char>& out,
                 size_t& outLen) {
#ifdef DOVRA_HAVE_LIBDEFLATE
    if (!fast || !inflaterReady) return false;
    const size_t room = outputBound(len);
    if (out.size() < room) out.resize(room);
    // What is left beyond the compressed bytes takes the sync marker.
    outLen = libdeflate_deflate_compress(fast, data, len, out.data(), out.size() - 8);
    if (outLen == 0) return false;
    size_t finalStart = 0;
    size_t finalEnd = 0;
    if (!findFinalBlock(inflater, out.data(), outLen, data, len, finalStart, finalEnd)) {
      return false;
    }
    if (!last) makeJoinable(out, outLen, finalStart, finalEnd);
    return true;
#else
    (void)data, (void)len, (void)last, (void)out, (void)outLen;
    return false;
#endif
  }
};

BlockDeflater::BlockDeflater() : state_(std::make_unique<State>()) {}
BlockDeflater::~BlockDeflater() = default;

bool BlockDeflater::ready() const {
  return state_->deflaterReady;
}

size_t BlockDeflater::outputBound(size_t len) {
  size_t bound = compressBound(static_cast<uLong>(len)) + 64;
#ifdef DOVRA_HAVE_LIBDEFLATE
  bound = std::max(bound, libdeflate_deflate_compress_bound(nullptr, len) + 8);
#endif
  return bound;
}

bool BlockDeflater::fast() {
#ifdef DOVRA_HAVE_LIBDEFLATE
  return true;
#else
  return false;
#endif
}

bool BlockDeflater::compress(const unsigned char* data, size_t len, size_t dictLen, bool last,
                             std::vector<unsigned char>& out, size_t& outLen) {
  if (state_->fastBlock(data, len, last, out, outLen)) return true;
  if (!state_->deflaterReady) return false;
  return zlibBlock(state_->deflater, data, len, dictLen, last, out, outLen);
}

}  // namespace dovra
