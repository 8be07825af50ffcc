// dovra-zlib: packs, unpacks, lists and verifies ".zlib" backup archives.
//
//   dovra-zlib pack ARCHIVE FILE...
//   dovra-zlib unpack ARCHIVE [DIR]     (DIR defaults to the archive's folder)
//   dovra-zlib list ARCHIVE             (one line per entry: name, size, compressed size,
//                                        separated by tabs)
//   dovra-zlib verify ARCHIVE
//
//   dovra-zlib --help | --version
//
// Exit status 0 on success; 1 with a one-line message on standard error when the operation
// fails; 2 for a usage error, with a one-line message on standard error. Progress goes to
// standard error only when it is a terminal.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "platform/process.h"
#include "platform/terminal.h"

namespace {

constexpr const char* kUsage =
    "usage: dovra-zlib pack ARCHIVE FILE...\n"
    "       dovra-zlib unpack ARCHIVE [DIR]\n"
    "       dovra-zlib list ARCHIVE\n"
    "       dovra-zlib verify ARCHIVE\n";

// A usage error: one line naming what was wrong.
int usage(const std::string& what) {
  std::fprintf(stderr, "usage: dovra-zlib: %s (see dovra-zlib --help)\n", what.c_str());
  return 2;
}

std::string folderOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

class TerminalProgress : public dovra::DecompressObserver {
 public:
  void entryStarted(int32_t index, int32_t count) override {
    counter_ = dovra::decompressCounterText(index, count);
  }
  void entrySize(const std::string& name, int64_t size) override {
    name_ = name;
    size_ = size;
    show(0);
  }
  void progress(uint64_t position) override { show(position); }
  void finished() override {
    std::fprintf(stderr, "\r\033[K%s\n", dovra::kDecompressDoneText.data());
  }

 private:
  void show(uint64_t position) {
    std::fprintf(stderr, "\r\033[K%s  %s  %s%%", counter_.c_str(), name_.c_str(),
                 dovra::decompressPercentText(position, size_).c_str());
  }
  std::string counter_;
  std::string name_;
  int64_t size_ = 0;
};

int pack(const std::string& archivePath, const std::vector<std::string>& files, bool tty) {
  dovra::CompressProgressHandler progress;
  if (tty) {
    progress = [&files](const dovra::CompressProgress& p) {
      const unsigned percent =
          p.entrySize ? static_cast<unsigned>(p.bytesIn * 100 / p.entrySize) : 100;
      std::fprintf(stderr, "\r\033[K%zu/%zu %s  %u%%", p.entry + 1, p.entryCount,
                   files[p.entry].c_str(), percent);
    };
  }
  dovra::CompressFiles(files, archivePath, progress);
  if (tty) std::fputs("\r\033[K", stderr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8, whatever the system gives a program its arguments in.
  const std::vector<std::string> args = dovra::commandLineArguments(argc, argv);
  const size_t count = args.size();
  if (count == 2 && args[1] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (count == 2 && args[1] == "--version") {
    std::printf("dovra-zlib %s\n", DOVRA_VERSION);
    return 0;
  }
  if (count < 2) return usage("a command is needed");
  const std::string command = args[1];
  if (command != "pack" && command != "unpack" && command != "list" && command != "verify") {
    return usage("unknown command: " + command);
  }
  if (count < 3) return usage(command + " needs an archive");
  const std::string archivePath = args[2];
  const bool tty = dovra::standardErrorIsTerminal();
  try {
    if (command == "pack") {
      if (count < 4) return usage("pack needs the files to pack");
      return pack(archivePath, std::vector<std::string>(args.begin() + 3, args.end()), tty);
    }
    if (command == "unpack") {
      if (count > 4) return usage("unpack takes ARCHIVE [DIR]");
      const std::string folder = count == 4 ? args[3] : folderOf(archivePath);
      TerminalProgress observer;
      dovra::DecompressFiles(archivePath, folder, tty ? &observer : nullptr);
      return 0;
    }
    if (command == "list" || command == "verify") {
      if (count != 3) return usage(command + " takes one archive");
      const auto entries =
          command == "list" ? dovra::listArchive(archivePath) : dovra::verifyArchive(archivePath);
      if (command == "list") {
        for (const auto& e : entries) {
          std::printf("%s\t%lld\t%llu\n", e.name.c_str(), static_cast<long long>(e.size),
                      static_cast<unsigned long long>(e.compressedSize));
        }
      } else {
        std::printf("%zu entries OK\n", entries.size());
      }
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return usage("unknown command: " + command);
  } catch (const std::exception& e) {
    if (tty) std::fputs("\n", stderr);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
