#include "archive/growing_pack.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>

#include "archive/archive_format.h"
#include "archive/parallel_deflate.h"
#include "archive/writer_parts.h"
#include "archive/zlib_stream.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace dovra {

EBackupStalled::EBackupStalled(const std::string& path, std::chrono::milliseconds waited)
    : Exception("O backup \"" + path + "\" parou de crescer por " +
                std::to_string((waited.count() + 999) / 1000) +
                " s sem o servidor informar o fim") {}

// ---- ProducerEnd ----

void ProducerEnd::finished() {
  {
    std::lock_guard lock(mu_);
    if (state_ != State::Running) return;
    state_ = State::Finished;
  }
  changed_.notify_all();
}

void ProducerEnd::failed(const std::string& why) {
  {
    std::lock_guard lock(mu_);
    if (state_ != State::Running) return;
    state_ = State::Failed;
    failure_ = why;
  }
  changed_.notify_all();
}

void ProducerEnd::alive() {
  std::lock_guard lock(mu_);
  lastAlive_ = std::chrono::steady_clock::now();
}

std::chrono::steady_clock::time_point ProducerEnd::lastAlive() const {
  std::lock_guard lock(mu_);
  return lastAlive_;
}

ProducerEnd::State ProducerEnd::state() const {
  std::lock_guard lock(mu_);
  return state_;
}

std::string ProducerEnd::failure() const {
  std::lock_guard lock(mu_);
  return failure_;
}

ProducerEnd::State ProducerEnd::waitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  changed_.wait_for(lock, timeout, [&] { return state_ != State::Running; });
  return state_;
}

// ---- GrowingFileReader ----

GrowingFileReader::GrowingFileReader(std::string path, const ProducerEnd& end,
                                     FollowOptions options, uint64_t maxSize)
    : path_(std::move(path)), end_(end), options_(options), maxSize_(maxSize) {
  crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
}

bool GrowingFileReader::open() {
  if (file_) return true;
  try {
    file_.emplace(FileStream::openRead(path_));
    return true;
  } catch (const EFOpenError&) {
    if (end_.state() == ProducerEnd::State::Finished) throw;
    return false;
  }
}

size_t GrowingFileReader::fill(unsigned char* buffer, size_t n) {
  using Clock = std::chrono::steady_clock;
  size_t got = 0;
  auto lastProgress = Clock::now();
  while (got < n) {
    // The state is taken before the read: a read that finds nothing new after the producer
    // had already finished is the real end of the file.
    const ProducerEnd::State state = end_.state();
    if (state == ProducerEnd::State::Failed) throw EProducerFailed(end_.failure());
    size_t r = 0;
    if (open()) r = file_->read(buffer + got, n - got);
    if (r > 0) {
      if (bytesRead_ + r > maxSize_) throw EFileTooLarge(path_, bytesRead_ + r);
      crc_ = static_cast<uint32_t>(crc32(crc_, buffer + got, static_cast<uInt>(r)));
      bytesRead_ += r;
      got += r;
      lastProgress = Clock::now();
      continue;
    }
    if (state == ProducerEnd::State::Finished) break;
    lastProgress = std::max(lastProgress, end_.lastAlive());
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
    if (waited >= options_.stallTimeout) throw EBackupStalled(path_, waited);
    // Wakes early when the producer ends; otherwise looks again after the poll interval.
    end_.waitFor(std::min(options_.poll, options_.stallTimeout - waited));
  }
  return got;
}

// ---- CompressGrowingFiles ----

namespace {

// Size and CRC-32 of the file at `path` as it is on disk now.
std::pair<uint64_t, uint32_t> sizeAndCrcOnDisk(const std::string& path) {
  FileStream f = FileStream::openRead(path);
  std::unique_ptr<unsigned char[]> block(new unsigned char[archive::kZlibBufferSize]);
  uLong crc = crc32(0, nullptr, 0);
  uint64_t size = 0;
  for (;;) {
    const size_t r = f.read(block.get(), archive::kZlibBufferSize);
    if (r == 0) break;
    crc = crc32(crc, block.get(), static_cast<uInt>(r));
    size += r;
  }
  return {size, static_cast<uint32_t>(crc)};
}

// Why the followed bytes of `path` are not the file on disk; empty when they are.
std::string differenceFromDisk(const std::string& path, const GrowingFileReader& reader) {
  const auto [size, crc] = sizeAndCrcOnDisk(path);
  if (size != reader.bytesRead()) {
    return "\"" + path + "\": " + std::to_string(reader.bytesRead()) + " bytes compactados, " +
           std::to_string(size) + " bytes no disco";
  }
  if (crc != reader.crc()) {
    return "\"" + path + "\": o conteúdo compactado difere do arquivo no disco";
  }
  return {};
}

// Compresses one followed input into `out`; returns its size.
uint64_t packFollowed(GrowingFileReader& reader, Stream& out, unsigned threads,
                      const std::function<void(uint64_t, uint64_t)>& report) {
  const auto fill = [&reader](unsigned char* p, size_t n) { return reader.fill(p, n); };
  if (threads <= 1) {
    // One plain stream, fed block by block as the file grows.
    TCompressionStream z(CompressionLevel::clDefault, out);
    z.OnProgress = [&](TCustomZlibStream&) { report(z.bytesIn(), z.bytesOut()); };
    std::unique_ptr<unsigned char[]> block(new unsigned char[archive::kCopyBlockSize]);
    for (;;) {
      const size_t n = fill(block.get(), archive::kCopyBlockSize);
      z.write(block.get(), n);
      if (n < archive::kCopyBlockSize) break;
    }
    z.finish();
    return reader.bytesRead();
  }
  // Hold the start until it is known whether the input reaches the parallel threshold.
  std::string head(static_cast<size_t>(kParallelThreshold), '\0');
  const size_t headLen = fill(reinterpret_cast<unsigned char*>(head.data()), head.size());
  head.resize(headLen);
  if (headLen < kParallelThreshold) {
    MemoryStream in(std::move(head));
    archive::compressPlain(in, headLen, out, report);
    return headLen;
  }
  size_t served = 0;
  const auto fromHeadThenFile = [&](unsigned char* p, size_t n) {
    size_t got = 0;
    if (served < head.size()) {
      got = std::min(n, head.size() - served);
      std::memcpy(p, head.data() + served, got);
      served += got;
      if (served == head.size()) std::string().swap(head);
    }
    if (got < n) got += fill(p + got, n - got);
    return got;
  };
  return parallelDeflateUntilEnd(fromHeadThenFile, out, threads, report);
}

}  // namespace

GrowingPackResult CompressGrowingFiles(const std::vector<FollowedInput>& inputs,
                                       const std::string& archivePath,
                                       const CompressProgressHandler& onProgress, unsigned workers,
                                       FollowOptions options,
                                       const std::function<void(const std::string&)>& log) {
  if (inputs.empty()) return {};
  if (inputs.size() > static_cast<size_t>(INT32_MAX)) throw EWriteError();
  const unsigned threads = resolveWorkerCount(workers);

  archive::removeStaleTemporaries(archivePath);
  const std::string temporary = archive::temporaryPathBeside(archivePath);
  FileStream out = FileStream::createNew(temporary, archivePath);
  out.markInUse();
  std::string difference;
  try {
    unsigned char count[archive::kFieldSize];
    archive::putInt32(count, static_cast<int32_t>(inputs.size()));
    out.writeBuffer(count, sizeof count);

    std::vector<GrowingFileReader> readers;
    readers.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
      const std::string name = utf8ToCp1252(archive::entryNameOf(inputs[i].path));
      const int64_t sizeField = out.position() + static_cast<int64_t>(archive::kFieldSize) +
                                static_cast<int64_t>(name.size());
      archive::writeEntryHeader(out, name, 0);
      GrowingFileReader& reader = readers.emplace_back(
          inputs[i].path, *inputs[i].end, options, static_cast<uint64_t>(archive::kMaxEntrySize));
      const auto report = [&](uint64_t in, uint64_t written) {
        if (onProgress) {
          onProgress(CompressProgress{i, inputs.size(), reader.bytesRead(), in, written});
        }
      };
      const uint64_t size = packFollowed(reader, out, threads, report);
      const int64_t end = out.position();
      unsigned char field[archive::kFieldSize];
      archive::putInt32(field, static_cast<int32_t>(size));
      out.setPosition(sizeField);
      out.writeBuffer(field, sizeof field);
      out.setPosition(end);
    }

    for (size_t i = 0; i < inputs.size() && difference.empty(); ++i) {
      difference = differenceFromDisk(inputs[i].path, readers[i]);
    }
    if (!difference.empty()) {
      out.close();
    } else {
      archive::renameIntoPlace(out, temporary, archivePath);
    }
  } catch (...) {
    removeFile(temporary);
    throw;
  }
  if (difference.empty()) {
    archive::syncFolderOf(archivePath);
    return {};
  }
  removeFile(temporary);
  const std::string reason =
      "Backup compactado de novo a partir dos arquivos completos: " + difference;
  if (log) log(reason);
  std::vector<std::string> files;
  for (const auto& input : inputs) files.push_back(input.path);
  CompressFiles(files, archivePath, onProgress, workers);
  return GrowingPackResult{true, reason};
}

}  // namespace dovra
