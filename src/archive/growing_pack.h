// Packing backup files while the server is still writing them.
//
// The server writes a backup file front to back. A GrowingFileReader reads what is on disk,
// waits a little when it has caught up and ends only once the producer has said the file is
// complete; CompressGrowingFiles feeds such readers to the archive writer's compressors, so
// the archive is ready shortly after the last file is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/stream.h"
#include "platform/error.h"

namespace dovra {

// The file stopped growing for the whole stall timeout while its producer had reported
// neither an end nor a failure:
//   "O backup "<path>" parou de crescer por <n> s sem o servidor informar o fim"
class EBackupStalled : public Exception {
 public:
  EBackupStalled(const std::string& path, std::chrono::milliseconds waited);
};

// The producer reported a failure; the text is the producer's own.
class EProducerFailed : public Exception {
 public:
  using Exception::Exception;
};

// The producer's side of a file being written: the thread that runs the backup says when the
// file is complete or when the backup failed; followers wait on it. Thread-safe. The first
// call of finished() or failed() decides; later calls change nothing.
class ProducerEnd {
 public:
  enum class State { Running, Finished, Failed };

  void finished();
  void failed(const std::string& why);
  // The producer is still at work although the file may not have grown (the server reported
  // a step): a follower counts this as progress when it judges a stall.
  void alive();

  State state() const;
  std::string failure() const;
  // Waits until the state is no longer Running or `timeout` passes; returns the state.
  State waitFor(std::chrono::milliseconds timeout) const;
  // When alive() was last called (the epoch of the steady clock when never).
  std::chrono::steady_clock::time_point lastAlive() const;

 private:
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  State state_ = State::Running;
  std::string failure_;
  std::chrono::steady_clock::time_point lastAlive_{};
};

struct FollowOptions {
  // Pause before looking again once everything written so far has been read.
  std::chrono::milliseconds poll{20};
  // Longest time without a new byte (or, before the file exists, without the file) and
  // without a sign of life from the producer while it is still running.
  std::chrono::milliseconds stallTimeout{std::chrono::minutes(5)};
};

// Reads a file another thread or process appends to, never past what is written. The file
// may not exist yet when reading starts. One thread at a time.
class GrowingFileReader {
 public:
  GrowingFileReader(std::string path, const ProducerEnd& end, FollowOptions options,
                    uint64_t maxSize);

  // Puts up to `n` bytes into `buffer`; returns fewer than `n` only when the producer has
  // finished and the whole file has been read. Throws EProducerFailed when the producer
  // fails, EBackupStalled on a stall, EFileTooLarge past `maxSize` bytes, EFOpenError when the
  // producer finished without the file existing, EReadError.
  size_t fill(unsigned char* buffer, size_t n);

  uint64_t bytesRead() const { return bytesRead_; }
  // CRC-32 (zlib's) of every byte returned so far.
  uint32_t crc() const { return crc_; }

 private:
  bool open();

  std::string path_;
  const ProducerEnd& end_;
  FollowOptions options_;
  uint64_t maxSize_;
  std::optional<FileStream> file_;
  uint64_t bytesRead_ = 0;
  uint32_t crc_ = 0;
};

// One input of CompressGrowingFiles: the backup file and its producer's end.
struct FollowedInput {
  std::string path;
  const ProducerEnd* end;
};

struct GrowingPackResult {
  // The followed archive was thrown away and the inputs packed again from the complete
  // files, because of `reason`.
  bool repacked = false;
  std::string reason;
};

// Packs `inputs`, in order, into `archivePath` with the layout and the streams of
// CompressFiles, reading each input while its producer is still writing it. Each entry's
// size field is written once its input has ended, in the temporary archive, before the
// rename. Inputs under kParallelThreshold bytes get the plain stream CompressFiles would
// give them (the first kParallelThreshold bytes are held in memory until that is known).
//
// Before the rename every input is checked against the file on disk: its size now and the
// CRC-32 of its content must equal what was packed. On a difference the temporary is
// removed, `log` gets the reason, and CompressFiles packs the complete files again; the
// result says so. `onProgress` reports entrySize as the bytes read so far while an input
// grows.
//
// On failure (a producer's failure, a stall, any error of CompressFiles) the temporary is
// removed and an existing archive stays as it was. Runs on the caller's thread.
GrowingPackResult CompressGrowingFiles(const std::vector<FollowedInput>& inputs,
                                       const std::string& archivePath,
                                       const CompressProgressHandler& onProgress = {},
                                       unsigned workers = 0, FollowOptions options = {},
                                       const std::function<void(const std::string&)>& log = {});

}  // namespace dovra
