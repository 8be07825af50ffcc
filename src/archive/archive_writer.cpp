#include "archive/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <random>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/parallel_deflate.h"
#include "archive/stream.h"
#include "archive/writer_parts.h"
#include "archive/zlib_stream.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_codec.h"

namespace dovra {

EFileTooLarge::EFileTooLarge(const std::string& path, uint64_t size)
    : Exception("Arquivo muito grande para compactar: \"" + path + "\" (" + std::to_string(size) +
                " bytes; o limite é " + std::to_string(archive::kMaxEntrySize) + " bytes)") {}

namespace archive {

std::string temporaryPathBeside(const std::string& path) {
  std::random_device random;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%08x", currentProcessId(),
                static_cast<unsigned>(random()));
  return path + suffix;
}

namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr size_t kTemporaryRandomDigits = 8;

// The id of the process that made `name` when it is a temporary of ours for an archive
// named `archiveName` or for any ".zlib" archive; 0 otherwise.
long temporaryOwner(std::string_view name, std::string_view archiveName) {
  const size_t mark = name.rfind(kTemporaryMark);
  if (mark == std::string_view::npos || mark == 0) return 0;
  const std::string_view archive = name.substr(0, mark);
  if (archive != archiveName && !(archive.size() > 5 && archive.ends_with(".zlib"))) return 0;
  const std::string_view tail = name.substr(mark + kTemporaryMark.size());
  const size_t dash = tail.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  const std::string_view pid = tail.substr(0, dash);
  const std::string_view random = tail.substr(dash + 1);
  if (pid.find_first_not_of("0123456789") != std::string_view::npos || pid[0] == '0') return 0;
  if (random.size() != kTemporaryRandomDigits ||
      random.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return 0;
  }
  return std::stol(std::string(pid));
}

}  // namespace

void removeStaleTemporaries(const std::string& archivePath) {
  const size_t cut = archivePath.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "" : archivePath.substr(0, cut + 1);
  const std::string archiveName =
      cut == std::string::npos ? archivePath : archivePath.substr(cut + 1);
  for (const std::string& name : folderEntryNames(folder)) {
    const long owner = temporaryOwner(name, archiveName);
    if (owner == 0 || owner == currentProcessId() || processRuns(owner)) continue;
    removeIfNotInUse(folder + name);
  }
}

void syncFolderOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  syncFolder(folder);
}

void renameIntoPlace(FileStream& out, const std::string& temporary,
                     const std::string& archivePath) {
  out.sync();
  out.close();
  if (const int err = renameReplacing(temporary, archivePath))
    throw EFCreateError(archivePath, err);
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

}  // namespace archive

namespace {

using archive::compressPlain;
using archive::removeStaleTemporaries;
using archive::syncFolderOf;
using archive::temporaryPathBeside;
using archive::writeEntryHeader;

void checkSize(const std::string& path, int64_t size) {
  if (size > archive::kMaxEntrySize) throw EFileTooLarge(path, static_cast<uint64_t>(size));
}

// Size of an input as the system reports it, before anything is opened for writing.
int64_t statInput(const std::string& path) {
  FileInfo info;
  if (const int err = pathInfo(path, info)) throw EFOpenError(path, err);
  if (info.isFolder) throw EFOpenError(path, EISDIR);
  return info.size;
}

}  // namespace

void CompressFiles(const std::vector<std::string>& files, const std::string& archivePath,
                   const CompressProgressHandler& onProgress, unsigned workers) {
  if (files.empty()) return;
  for (const auto& path : files) checkSize(path, statInput(path));
  if (files.size() > static_cast<size_t>(INT32_MAX)) throw EWriteError();
  const unsigned threads = resolveWorkerCount(workers);

  removeStaleTemporaries(archivePath);
  const std::string temporary = temporaryPathBeside(archivePath);
  FileStream out = FileStream::createNew(temporary, archivePath);
  out.markInUse();
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

    archive::renameIntoPlace(out, temporary, archivePath);
  } catch (...) {
    removeFile(temporary);
    throw;
  }
  syncFolderOf(archivePath);
}

}  // namespace dovra
