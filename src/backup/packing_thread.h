// A packer on a thread of its own for a backup that runs on the caller's thread: it follows
// the run's backup files into one archive while the server writes them.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/growing_pack.h"

namespace dovra {

class PackingThread {
 public:
  // Starts packing `files`, in order, into `archivePath` (see CompressGrowingFiles).
  // `onProgress` and `log` run on the packer's thread.
  PackingThread(std::vector<std::string> files, std::string archivePath,
                CompressProgressHandler onProgress, unsigned workers = 0,
                FollowOptions options = {}, std::function<void(const std::string&)> log = {});
  // Ends the producers that have not ended as failed, so the packer lets go of the archive
  // (the previous one stays), and waits for it.
  ~PackingThread();
  PackingThread(const PackingThread&) = delete;
  PackingThread& operator=(const PackingThread&) = delete;

  // The producer's side of files[i]: the caller reports there how its backup ended and,
  // for each step the server reports, that it is alive.
  ProducerEnd& end(size_t i) { return *ends_[i]; }

  // Waits for the packer; rethrows its failure (EProducerFailed when a producer failed).
  GrowingPackResult wait();

 private:
  std::vector<std::unique_ptr<ProducerEnd>> ends_;
  GrowingPackResult result_;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace dovra
