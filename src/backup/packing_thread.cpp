#include "backup/packing_thread.h"

namespace dovra {

PackingThread::PackingThread(std::vector<std::string> files, std::string archivePath,
                             CompressProgressHandler onProgress, unsigned workers,
                             FollowOptions options, std::function<void(const std::string&)> log) {
  std::vector<FollowedInput> inputs;
  for (const std::string& file : files) {
    ends_.push_back(std::make_unique<ProducerEnd>());
    inputs.push_back({file, ends_.back().get()});
  }
  thread_ =
      std::thread([this, inputs = std::move(inputs), archivePath = std::move(archivePath),
                   onProgress = std::move(onProgress), workers, options, log = std::move(log)] {
        try {
          result_ = CompressGrowingFiles(inputs, archivePath, onProgress, workers, options, log);
        } catch (...) {
          failure_ = std::current_exception();
        }
      });
}

PackingThread::~PackingThread() {
  for (auto& end : ends_) end->failed("Backup interrompido");
  if (thread_.joinable()) thread_.join();
}

GrowingPackResult PackingThread::wait() {
  if (thread_.joinable()) thread_.join();
  if (failure_) std::rethrow_exception(failure_);
  return result_;
}

}  // namespace dovra
