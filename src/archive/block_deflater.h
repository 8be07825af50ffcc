// Deflate of one block of a larger input, so that the blocks of an input, deflated on their
// own (even on different threads) and written one after the other, form one deflate stream.
//
// Every block but the last ends on a byte boundary with an empty stored block (what zlib's
// sync flush writes); the last one ends the stream. Where the build has libdeflate, a block
// is compressed by it at the archive's level (several times faster than zlib for the same
// ratio); its final-block mark is then cleared and the sync marker appended. Every such
// block is inflated back and compared with its input before it is used; a block that does
// not come back whole (and every block in builds without libdeflate) goes through zlib,
// primed with the input before the block as preset dictionary.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace dovra {

class BlockDeflater {
 public:
  BlockDeflater();
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  // False when the compressor could not be set up (no memory); compress then fails.
  bool ready() const;

  // Deflates `len` bytes at `data` into `out` (grown as needed), replacing its contents, and
  // sets `outLen`. The `dictLen` bytes before `data` are the input just before the block
  // (up to 32 KiB, may be 0). `last` ends the stream. False on a compressor failure.
  // `out` is grown only when it holds less than outputBound(len).
  bool compress(const unsigned char* data, size_t len, size_t dictLen, bool last,
                std::vector<unsigned char>& out, size_t& outLen);

  // Room in `out` for a block of up to `len` bytes that compress never has to grow.
  static size_t outputBound(size_t len);

  // Whether blocks go through libdeflate in this build.
  static bool fast();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dovra
