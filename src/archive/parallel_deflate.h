// Compression of one large input into one ordinary zlib stream on several threads.
//
// The input is cut into blocks of kParallelBlockSize bytes. Each block is deflated on its
// own at the archive's level by a BlockDeflater, so the blocks join into one deflate stream. The
// zlib header 78 9C goes first and the Adler-32 of the whole input, combined from the blocks',
// last. Any zlib inflater reads the result as a single stream; the bytes differ from a
// single-threaded deflate's.
//
// Memory is bounded: at most two blocks per worker are in flight (input and output
// buffers, about 2.1 MiB per block), whatever the input size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "archive/stream.h"

namespace dovra {

inline constexpr size_t kParallelBlockSize = size_t{1} << 20;
// Inputs below this size are compressed as one plain stream even when workers are free.
inline constexpr uint64_t kParallelThreshold = uint64_t{4} << 20;

// Number of compression threads for a requested count: 0 means every core.
unsigned resolveWorkerCount(unsigned requested);

// Reads exactly `size` bytes from `source` (EReadError when it yields fewer) and writes one
// zlib stream holding them to `dest` through a 65,536-byte buffer, calling `onBuffer`
// (input bytes handed to the workers so far, compressed bytes written so far) after each
// full buffer is written. `workers` must be at least 1. Runs on the caller's thread and
// starts `workers` threads for the duration of the call; the callback runs on the caller's
// thread. Throws ECompressionError "Error", EReadError, EWriteError.
void parallelDeflate(Stream& source, uint64_t size, Stream& dest, unsigned workers,
                     const std::function<void(uint64_t bytesIn, uint64_t bytesOut)>& onBuffer);

// The same stream for an input whose size is known only at its end. `fill(buffer, n)` puts
// up to `n` bytes into `buffer` and returns how many; returning fewer than `n` ends the input
// (it is not called again). Runs `fill` and `onBuffer` on the caller's thread; memory stays
// bounded as above. Returns the number of input bytes compressed. Exceptions from `fill`
// pass through; otherwise throws as parallelDeflate.
uint64_t parallelDeflateUntilEnd(
    const std::function<size_t(unsigned char* buffer, size_t n)>& fill, Stream& dest,
    unsigned workers, const std::function<void(uint64_t bytesIn, uint64_t bytesOut)>& onBuffer);

}  // namespace dovra
