#include "archive/archive_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>

#include "archive/archive_format.h"
#include "archive/stream.h"
#include "archive/zlib_stream.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_codec.h"

namespace dovra {

namespace {

// Where the bytes of each entry go.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  virtual void begin(const std::string& name) = 0;
  virtual void write(const unsigned char* data, size_t count) = 0;
  // The entry is complete and verified.
  virtual void commit() = 0;
};

class DiscardSink : public EntrySink {
 public:
  void begin(const std::string&) override {}
  void write(const unsigned char*, size_t) override {}
  void commit() override {}
};

// Writes each entry under a temporary name in the folder and renames it into place on
// commit. A temporary file not committed is removed.
class FolderSink : public EntrySink {
 public:
  explicit FolderSink(std::string folder) : folder_(std::move(folder)) {
    if (folder_.empty()) folder_ = ".";
    if (folder_.back() != '/') folder_ += '/';
  }
  ~FolderSink() override { discard(); }

  void begin(const std::string& name) override {
    discard();
    finalPath_ = folder_ + name;
    // The entry replaces an existing file by a rename, which the file's own protection
    // would not stop: a file that may not be written is refused as a create would be.
    if (const int err = existingFileWriteError(finalPath_)) throw EFCreateError(finalPath_, err);
    std::random_device random;
    char tmpName[64];
    std::snprintf(tmpName, sizeof tmpName, ".dovra-unpack-%ld-%08x.tmp", currentProcessId(),
                  static_cast<unsigned>(random()));
    temporary_ = folder_ + tmpName;
    file_.emplace(FileStream::createNew(temporary_, finalPath_));
  }

  void write(const unsigned char* data, size_t count) override { file_->writeBuffer(data, count); }

  void commit() override {
    file_->sync();
    file_->close();
    file_.reset();
    if (const int err = renameReplacing(temporary_, finalPath_)) {
      throw EFCreateError(finalPath_, err);
    }
    temporary_.clear();
  }

 private:
  void discard() noexcept {
    file_.reset();
    if (!temporary_.empty()) removeFile(temporary_);
    temporary_.clear();
  }

  std::string folder_;
  std::string finalPath_;
  std::string temporary_;
  std::optional<FileStream> file_;
};

int32_t readInt32(Stream& in) {
  unsigned char bytes[archive::kFieldSize];
  in.readBuffer(bytes, sizeof bytes);
  return archive::getInt32(bytes);
}

// The name as it may appear in a message: control characters become "?".
std::string printableName(const std::string& raw) {
  std::string shown = raw;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return cp1252ToUtf8(shown);
}

[[noreturn]] void damaged(int32_t index, const std::string& what) {
  throw archive::EInvalidArchive("Arquivo compactado danificado: " + what + " na entrada " +
                                 std::to_string(index));
}

// The fields of entry `index` (1-based): its name and size, checked.
ArchiveEntry readEntryFields(Stream& in, int32_t index) {
  const int32_t nameLength = readInt32(in);
  if (nameLength <= 0 || nameLength > archive::kMaxNameLength) {
    damaged(index, "comprimento de nome inválido (" + std::to_string(nameLength) + ")");
  }
  std::string raw(static_cast<size_t>(nameLength), '\0');
  in.readBuffer(raw.data(), raw.size());
  const int32_t size = readInt32(in);
  if (!archive::isSafeEntryName(raw)) {
    damaged(index, "nome inválido \"" + printableName(raw) + "\"");
  }
  if (size < 0) damaged(index, "tamanho inválido (" + std::to_string(size) + ")");
  return ArchiveEntry{cp1252ToUtf8(raw), size, 0};
}

// Reads the rest of an entry's zlib stream once its last byte is out: the stream must end
// there, with its checksum verified.
void finishEntry(TDecompressionStream& z) {
  unsigned char extra;
  if (z.read(&extra, 1) != 0) throw EDecompressionError("Error");
  if (!z.ended()) throw EReadError();
}

std::vector<ArchiveEntry> readArchive(const std::string& archivePath, EntrySink& sink,
                                      DecompressObserver* observer) {
  FileStream in = FileStream::openRead(archivePath);
  const int32_t count = readInt32(in);
  std::vector<ArchiveEntry> entries;
  std::unique_ptr<unsigned char[]> block(new unsigned char[archive::kCopyBlockSize]);

  for (int32_t i = 1; i <= count; ++i) {
    if (observer) observer->entryStarted(i, count);
    ArchiveEntry entry = readEntryFields(in, i);
    const int64_t size = entry.size;
    if (observer) observer->entrySize(entry.name, size);
    sink.begin(entry.name);

    TDecompressionStream z(in);
    if (observer) {
      z.OnProgress = [observer](TCustomZlibStream& sender) {
        observer->progress(static_cast<uint64_t>(sender.position()));
      };
    }
    uint64_t left = static_cast<uint64_t>(size);
    while (left > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, archive::kCopyBlockSize));
      const size_t got = z.read(block.get(), want);
      sink.write(block.get(), got);
      if (got < want) throw EReadError();
      left -= got;
    }
    finishEntry(z);
    entry.compressedSize = z.bytesIn();
    z.close();
    sink.commit();
    entries.push_back(std::move(entry));
  }
  if (observer) observer->finished();
  return entries;
}

}  // namespace

struct FirstEntryReader::State {
  explicit State(const std::string& path) : in(FileStream::openRead(path)) {}
  FileStream in;
  std::optional<TDecompressionStream> z;
  uint64_t left = 0;
  bool finished = false;
};

FirstEntryReader::FirstEntryReader(const std::string& archivePath)
    : s_(std::make_unique<State>(archivePath)) {
  if (readInt32(s_->in) < 1) {
    throw archive::EInvalidArchive("Arquivo compactado danificado: nenhuma entrada");
  }
  entry_ = readEntryFields(s_->in, 1);
  s_->left = static_cast<uint64_t>(entry_.size);
  s_->z.emplace(s_->in);
}

FirstEntryReader::~FirstEntryReader() = default;

size_t FirstEntryReader::read(void* buffer, size_t max) {
  State& s = *s_;
  if (s.finished) return 0;
  if (s.left == 0) {
    finishEntry(*s.z);
    s.finished = true;
    return 0;
  }
  const size_t want = static_cast<size_t>(std::min<uint64_t>(s.left, max));
  const size_t got = s.z->read(buffer, want);
  if (got < want) throw EReadError();
  s.left -= got;
  return got;
}

void DecompressFiles(const std::string& archivePath, const std::string& destFolder,
                     DecompressObserver* observer) {
  FolderSink sink(destFolder);
  readArchive(archivePath, sink, observer);
}

std::vector<ArchiveEntry> listArchive(const std::string& archivePath) {
  DiscardSink sink;
  return readArchive(archivePath, sink, nullptr);
}

std::vector<ArchiveEntry> verifyArchive(const std::string& archivePath) {
  DiscardSink sink;
  return readArchive(archivePath, sink, nullptr);
}

std::string decompressCounterText(int32_t index, int32_t count) {
  return "Descomprimindo: " + std::to_string(index) + " de " + std::to_string(count);
}

std::string decompressPercentText(uint64_t position, int64_t size) {
  if (size <= 0) return "100";
  const double percent = static_cast<double>(position) * 100.0 / static_cast<double>(size);
  const long long fixed4 = std::llround(percent * 10000.0);
  const long long whole = (fixed4 + 5000) / 10000;
  std::string digits = std::to_string(whole);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return out;
}

}  // namespace dovra
