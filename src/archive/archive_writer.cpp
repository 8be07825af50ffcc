#include "archive/archive_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <random>

#include "archive/archive_format.h"
#include "archive/parallel_deflate.h"
#include "archive/stream.h"
#include "archive/zlib_stream.h"
#include "platform/text_codec.h"

namespace dovra {

EFileTooLarge::EFileTooLarge(const std::string& path, uint64_t size)
    : Exception("Arquivo muito grande para compactar: \"" + path + "\" (" + std::to_string(size) +
                " bytes; o limite é " + std::to_string(archive::kMaxEntrySize) + " bytes)") {}

namespace {

std::string temporaryPathBeside(const std::string& path) {
  std::random_device random;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%08x", static_cast<long>(::getpid()),
                static_cast<unsigned>(random()));
  return path + suffix;
}

// Makes a rename in the folder of `path` durable. Best effort: a folder that cannot be
// opened or synced leaves the rename as the file system keeps it.
void syncFolderOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void checkSize(const std::string& path, int64_t size) {
  if (size > archive::kMaxEntrySize) throw EFileTooLarge(path, static_cast<uint64_t>(size));
}

// Size of an input as the system reports it, before anything is opened for writing.
int64_t statInput(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw EFOpenError(path, errno);
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, EISDIR);
  return st.st_size;
}

void writeEntryHeader(Stream& dest, const std::string& name, int32_t size) {
  std::string bytes(archive::kFieldSize * 2 + name.size(), '\0');
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  archive::putInt32(p, static_cast<int32_t>(name.size()));
  std::copy(name.begin(), name.end(), bytes.begin() + archive::kFieldSize);
  archive::putInt32(p + archive::kFieldSize + name.size(), size);
  dest.writeBuffer(bytes.data(), bytes.size());
}

void compressPlain(Stream& input, uint64_t size, Stream& dest,
                   const std::function<void(uint64_t, uint64_t)>& report) {
  TCompressionStream z(CompressionLevel::clDefault, dest);
  z.OnProgress = [&](TCustomZlibStream&) { report(z.bytesIn(), z.bytesOut()); };
  std::unique_ptr<unsigned char[]> block(new unsigned char[archive::kCopyBlockSize]);
  uint64_t left = size;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, archive::kCopyBlockSize));
    input.readBuffer(block.get(), n);
    z.write(block.get(), n);
    left -= n;
  }
  z.finish();
}

}  // namespace

void CompressFiles(const std::vector<std::string>& files, const std::string& archivePath,
                   const CompressProgressHandler& onProgress, unsigned workers) {
  if (files.empty()) return;
  for (const auto& path : files) checkSize(path, statInput(path));
  if (files.size() > static_cast<size_t>(INT32_MAX)) throw EWriteError();
  const unsigned threads = resolveWorkerCount(workers);

  const std::string temporary = temporaryPathBeside(archivePath);
  FileStream out = FileStream::createNew(temporary, archivePath);
  try {
    unsigned char count[archive::kFieldSize];
    archive::putInt32(count, static_cast<int32_t>(files.size()));
    out.writeBuffer(count, sizeof count);

    for (size_t i = 0; i < files.size(); ++i) {
      FileStream input = FileStream::openRead(files[i]);
      const int64_t size = input.size();
      checkSize(files[i], size);
      writeEntryHeader(out, utf8ToCp1252(archive::entryNameOf(files[i])),
                       static_cast<int32_t>(size));
      const uint64_t entrySize = static_cast<uint64_t>(size);
      const auto report = [&](uint64_t in, uint64_t out) {
        if (onProgress) onProgress(CompressProgress{i, files.size(), entrySize, in, out});
      };
      if (threads > 1 && entrySize >= kParallelThreshold) {
        parallelDeflate(input, entrySize, out, threads, report);
      } else {
        compressPlain(input, entrySize, out, report);
      }
    }

    out.sync();
    out.close();
    if (::rename(temporary.c_str(), archivePath.c_str()) != 0) {
      throw EFCreateError(archivePath, errno);
    }
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncFolderOf(archivePath);
}

}  // namespace dovra
