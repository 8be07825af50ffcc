#include "archive/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/archive_format.h"
#include "archive/block_deflater.h"
#include "archive/zlib_stream.h"

namespace dovra {

namespace {

constexpr size_t kDictionarySize = 32768;

// One block of input on its way through a worker. The input buffer holds the dictionary
// (the end of the previous block) right before the block's own bytes.
struct Block {
  enum class State { Idle, Queued, Done };

  std::unique_ptr<unsigned char[]> input;
  size_t dictLen = 0;
  size_t len = 0;
  bool last = false;
  std::vector<unsigned char> output;
  size_t outLen = 0;
  uLong adler = 0;
  bool failed = false;
  State state = State::Idle;

  unsigned char* data() { return input.get() + kDictionarySize; }
};

void compressBlock(BlockDeflater& deflater, Block& b) {
  b.failed = !deflater.compress(b.data(), b.len, b.dictLen, b.last, b.output, b.outLen);
  if (!b.failed) b.adler = adler32(adler32(0, nullptr, 0), b.data(), static_cast<uInt>(b.len));
}

// Worker threads that compress queued blocks. Stops and joins its threads when it dies,
// abandoning blocks still queued.
class Pool {
 public:
  // The compressors are made here, on the caller's thread, so that their memory comes from
  // the caller's heap rather than from one more per-thread heap that keeps what it once held.
  Pool(unsigned threads, std::vector<Block>& blocks) : blocks_(blocks) {
    deflaters_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) deflaters_.push_back(std::make_unique<BlockDeflater>());
    threads_.reserve(threads);
    try {
      for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this, i] { run(*deflaters_[i]); });
      }
    } catch (...) {
      stop();
      throw;
    }
  }
  ~Pool() { stop(); }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  void submit(size_t index) {
    {
      std::lock_guard lock(mu_);
      blocks_[index].state = Block::State::Queued;
      queue_.push_back(index);
    }
    work_.notify_one();
  }

  void wait(size_t index) {
    std::unique_lock lock(mu_);
    done_.wait(lock, [&] { return blocks_[index].state == Block::State::Done; });
    blocks_[index].state = Block::State::Idle;
  }

 private:
  void stop() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
  }

  void run(BlockDeflater& deflater) {
    const bool ready = deflater.ready();
    std::unique_lock lock(mu_);
    for (;;) {
      work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) break;
      const size_t index = queue_.front();
      queue_.pop_front();
      Block& b = blocks_[index];
      lock.unlock();
      if (ready) {
        compressBlock(deflater, b);
      } else {
        b.failed = true;
      }
      lock.lock();
      b.state = Block::State::Done;
      done_.notify_all();
    }
  }

  std::vector<Block>& blocks_;
  std::vector<std::unique_ptr<BlockDeflater>> deflaters_;
  std::mutex mu_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<size_t> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// The 65,536-byte output buffer in front of the destination.
class OutputBuffer {
 public:
  OutputBuffer(Stream& dest, const std::function<void(uint64_t, uint64_t)>& onBuffer,
               const uint64_t& bytesIn)
      : dest_(dest),
        onBuffer_(onBuffer),
        bytesIn_(bytesIn),
        buf_(new unsigned char[archive::kZlibBufferSize]) {}

  void put(const unsigned char* p, size_t n) {
    while (n > 0) {
      const size_t take = std::min(n, archive::kZlibBufferSize - used_);
      std::memcpy(buf_.get() + used_, p, take);
      used_ += take;
      p += take;
      n -= take;
      if (used_ == archive::kZlibBufferSize) {
        dest_.writeBuffer(buf_.get(), used_);
        written_ += used_;
        used_ = 0;
        if (onBuffer_) onBuffer_(bytesIn_, written_);
      }
    }
  }

  void flushRest() {
    if (used_ > 0) dest_.writeBuffer(buf_.get(), used_);
    written_ += used_;
    used_ = 0;
  }

 private:
  Stream& dest_;
  const std::function<void(uint64_t, uint64_t)>& onBuffer_;
  const uint64_t& bytesIn_;
  std::unique_ptr<unsigned char[]> buf_;
  size_t used_ = 0;
  uint64_t written_ = 0;
};

}  // namespace

unsigned resolveWorkerCount(unsigned requested) {
  if (requested > 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// The block loop under both entry points. `fill` puts up to kParallelBlockSize bytes in a
// block and returns how many; a short block is the last. `knownSize`, when not null, ends
// the input after that many bytes even when the last block is full.
uint64_t deflateBlocks(const std::function<size_t(unsigned char*, size_t)>& fill,
                       const uint64_t* knownSize, Stream& dest, unsigned workers,
                       const std::function<void(uint64_t, uint64_t)>& onBuffer) {
  workers = std::max(1u, workers);
  uint64_t slotLimit = 2 * uint64_t{workers};
  uint64_t threadLimit = workers;
  if (knownSize) {
    const uint64_t blockCount =
        std::max<uint64_t>(1, (*knownSize + kParallelBlockSize - 1) / kParallelBlockSize);
    slotLimit = std::min(slotLimit, blockCount);
    threadLimit = std::min(threadLimit, blockCount);
  }
  const auto slots = static_cast<size_t>(slotLimit);
  // Sized here once for any block, so that no worker grows a buffer on its own heap.
  const size_t outputCapacity = BlockDeflater::outputBound(kParallelBlockSize);

  uint64_t bytesIn = 0;
  OutputBuffer out(dest, onBuffer, bytesIn);
  out.put(archive::kZlibHeader, sizeof archive::kZlibHeader);

  std::vector<Block> blocks(slots);
  Pool pool(static_cast<unsigned>(threadLimit), blocks);
  uLong adler = adler32(0, nullptr, 0);

  auto emit = [&](size_t slot) {
    pool.wait(slot);
    Block& b = blocks[slot];
    if (b.failed) throw ECompressionError("Error");
    out.put(b.output.data(), b.outLen);
    adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.len));
  };

  uint64_t k = 0;
  for (bool ended = false; !ended; ++k) {
    const size_t slot = static_cast<size_t>(k % slots);
    Block& b = blocks[slot];
    if (k >= slots) emit(slot);
    if (!b.input) {
      b.input.reset(new unsigned char[kDictionarySize + kParallelBlockSize]);
      b.output.resize(outputCapacity);
    }
    b.dictLen = 0;
    if (k > 0) {
      Block& prev = blocks[static_cast<size_t>((k - 1) % slots)];
      b.dictLen = std::min(kDictionarySize, prev.len);
      std::memcpy(b.data() - b.dictLen, prev.data() + prev.len - b.dictLen, b.dictLen);
    }
    b.len = fill(b.data(), kParallelBlockSize);
    bytesIn += b.len;
    b.last = b.len < kParallelBlockSize || (knownSize && bytesIn == *knownSize);
    ended = b.last;
    pool.submit(slot);
  }
  const uint64_t firstPending = k > slots ? k - slots : 0;
  for (uint64_t j = firstPending; j < k; ++j) emit(static_cast<size_t>(j % slots));

  const unsigned char trailer[4] = {
      static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
      static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)};
  out.put(trailer, sizeof trailer);
  out.flushRest();
  return bytesIn;
}

}  // namespace

void parallelDeflate(Stream& source, uint64_t size, Stream& dest, unsigned workers,
                     const std::function<void(uint64_t bytesIn, uint64_t bytesOut)>& onBuffer) {
  uint64_t taken = 0;
  const auto fill = [&](unsigned char* p, size_t n) {
    const auto len = static_cast<size_t>(std::min<uint64_t>(n, size - taken));
    source.readBuffer(p, len);
    taken += len;
    return len;
  };
  deflateBlocks(fill, &size, dest, workers, onBuffer);
}

uint64_t parallelDeflateUntilEnd(const std::function<size_t(unsigned char*, size_t)>& fill,
                                 Stream& dest, unsigned workers,
                                 const std::function<void(uint64_t, uint64_t)>& onBuffer) {
  return deflateBlocks(fill, nullptr, dest, workers, onBuffer);
}

}  // namespace dovra
