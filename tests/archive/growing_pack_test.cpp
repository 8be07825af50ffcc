#include "archive/growing_pack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "archive/archive_reader.h"
#include "archive/parallel_deflate.h"
#include "archive_test_util.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using test::le32;
using test::readFile;
using test::repetitiveBytes;
using test::sameBytes;
using test::TempDir;
using test::writeFile;
using test::zlibCompress;

// Appends `data` to `path` in pieces, as a server writing a backup does, then reports the
// end. Past half of the file, and past the 4 MiB a packer holds before it chooses its path,
// it waits (up to 10 s) until `followed` says the packer has read something, so the packing
// provably overlaps the writing.
void writeGrowing(const std::string& path, const std::string& data, ProducerEnd& end,
                  const std::function<bool()>& followed, bool finish = true) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const size_t piece = 200000;
  for (size_t at = 0; at < data.size(); at += piece) {
    if (at >= std::max(data.size() / 2, size_t{5} << 20) && followed) {
      for (int i = 0; i < 1000 && !followed(); ++i) std::this_thread::sleep_for(10ms);
    }
    const size_t n = std::min(piece, data.size() - at);
    ASSERT_EQ(::write(fd, data.data() + at, n), static_cast<ssize_t>(n));
    std::this_thread::sleep_for(2ms);
  }
  ::close(fd);
  if (finish) end.finished();
}

class GrowingPack : public ::testing::Test {
 protected:
  std::string archivePath() const { return dir.file("out.zlib"); }
  std::string unpacked(const std::string& name) {
    const std::string out = dir.file("unpacked");
    std::filesystem::create_directories(out);
    DecompressFiles(archivePath(), out);
    return readFile(out + "/" + name);
  }
  TempDir dir{"dovra-growing"};
};

TEST_F(GrowingPack, LargeFileFollowedWhileWrittenHasItsSizePatchedAndUnpacksIdentical) {
  // Above the parallel threshold, and ending on an exact block boundary in a second case.
  for (const uint64_t size : {(uint64_t{9} << 20) + 4321, uint64_t{6} << 20}) {
    const std::string data = repetitiveBytes(static_cast<size_t>(size), size);
    const std::string path = dir.file("BACKUP.FBK");
    ::unlink(path.c_str());
    ProducerEnd end;
    std::atomic<uint64_t> seen{0};
    std::thread writer([&] { writeGrowing(path, data, end, [&] { return seen.load() > 0; }); });
    GrowingPackResult result;
    try {
      result = CompressGrowingFiles(
          {{path, &end}}, archivePath(),
          [&](const CompressProgress& p) { seen = std::max<uint64_t>(seen, p.entrySize); }, 2);
    } catch (...) {
      end.failed("test");
      writer.join();
      throw;
    }
    writer.join();
    EXPECT_FALSE(result.repacked) << result.reason;
    EXPECT_GT(seen.load(), 0u);
    const std::string a = readFile(archivePath());
    ASSERT_EQ(a.substr(0, 4 + 4 + 10 + 4),
              le32(1) + le32(10) + "BACKUP.FBK" + le32(static_cast<int32_t>(size)));
    EXPECT_FALSE(sameBytes(a.substr(22), zlibCompress(data, 6)));  // the parallel path
    EXPECT_TRUE(sameBytes(unpacked("BACKUP.FBK"), data));
    EXPECT_EQ(test::namesIn(dir.path()).size(), 3u);  // input, archive, unpacked folder
    std::filesystem::remove_all(dir.file("unpacked"));
  }
}

TEST_F(GrowingPack, SmallFilesAndOneWorkerGiveThePlainStreamInOrder) {
  const std::string small = repetitiveBytes(300000, 1);
  const std::string big = repetitiveBytes((5 << 20) + 7, 2);
  for (const unsigned workers : {2u, 1u}) {
    const std::string p1 = dir.file("A.FBK"), p2 = dir.file("NFE.FBK");
    ::unlink(p1.c_str());
    ::unlink(p2.c_str());
    ProducerEnd e1, e2;
    std::thread writer([&] {
      writeGrowing(p1, small, e1, {});
      writeGrowing(p2, workers == 1 ? big : std::string(), e2, {});
    });
    GrowingPackResult result;
    try {
      result = CompressGrowingFiles({{p1, &e1}, {p2, &e2}}, archivePath(), {}, workers);
    } catch (...) {
      e1.failed("test");
      e2.failed("test");
      writer.join();
      throw;
    }
    writer.join();
    EXPECT_FALSE(result.repacked);
    const std::string second = workers == 1 ? big : std::string();
    const std::string expected =
        le32(2) + le32(5) + "A.FBK" + le32(300000) + zlibCompress(small, 6) + le32(7) + "NFE.FBK" +
        le32(static_cast<int32_t>(second.size())) + zlibCompress(second, 6);
    EXPECT_TRUE(sameBytes(readFile(archivePath()), expected)) << workers;
  }
}

TEST_F(GrowingPack, StalledOrFailingProducerLeavesThePreviousArchive) {
  writeFile(archivePath(), "previous");
  const std::string path = dir.file("B.FBK");
  {
    ProducerEnd end;  // never ends
    writeFile(path, repetitiveBytes(100000, 3));
    FollowOptions options;
    options.poll = 10ms;
    options.stallTimeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(test::errorText<EBackupStalled>([&] {
                CompressGrowingFiles({{path, &end}}, archivePath(), {}, 2, options);
              }),
              "O backup \"" + path + "\" parou de crescer por 1 s sem o servidor informar o fim");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  }
  {
    ProducerEnd end;
    std::thread failer([&] {
      std::this_thread::sleep_for(100ms);
      end.failed("I/O error during \"write\" operation");
    });
    EXPECT_EQ(test::errorText<EProducerFailed>([&] {
                CompressGrowingFiles({{path, &end}}, archivePath(), {}, 2);
              }),
              "I/O error during \"write\" operation");
    failer.join();
  }
  EXPECT_EQ(readFile(archivePath()), "previous");
  EXPECT_EQ(test::namesIn(dir.path()).size(), 2u);  // no temporary left
}

TEST_F(GrowingPack, AProducerStillReportingStepsIsNotAStall) {
  // A file system that shows the file only at the end: the server's steps keep it alive.
  const std::string path = dir.file("D.FBK");
  const std::string data = repetitiveBytes(70000, 5);
  ProducerEnd end;
  std::thread producer([&] {
    for (int i = 0; i < 12; ++i) {
      end.alive();
      std::this_thread::sleep_for(50ms);
    }
    writeFile(path, data);
    end.finished();
  });
  FollowOptions options;
  options.poll = 10ms;
  options.stallTimeout = 200ms;
  EXPECT_NO_THROW(CompressGrowingFiles({{path, &end}}, archivePath(), {}, 2, options));
  producer.join();
  EXPECT_TRUE(sameBytes(readFile(archivePath()),
                        le32(1) + le32(5) + "D.FBK" + le32(70000) + zlibCompress(data, 6)));
}

TEST_F(GrowingPack, BytesChangedBehindThePackerArePackedAgainFromTheFileAndLogged) {
  const std::string data = repetitiveBytes((5 << 20) + 99, 4);
  const std::string path = dir.file("C.FBK");
  ProducerEnd end;
  std::atomic<uint64_t> seen{0};
  std::thread writer([&] {
    writeGrowing(
        path, data, end, [&] { return seen.load() > 0; }, /*finish=*/false);
    // The first bytes are long read; rewrite one before reporting the end.
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "X", 1, 10), 1);
    ::close(fd);
    end.finished();
  });
  std::vector<std::string> logged;
  GrowingPackResult result;
  try {
    result = CompressGrowingFiles(
        {{path, &end}}, archivePath(),
        [&](const CompressProgress& p) { seen = std::max<uint64_t>(seen, p.entrySize); }, 2, {},
        [&](const std::string& line) { logged.push_back(line); });
  } catch (...) {
    end.failed("test");
    writer.join();
    throw;
  }
  writer.join();
  EXPECT_TRUE(result.repacked);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Backup compactado de novo a partir dos arquivos completos: \"" + path +
                           "\": o conteúdo compactado difere do arquivo no disco");
  std::string changed = data;
  changed[10] = 'X';
  EXPECT_TRUE(sameBytes(unpacked("C.FBK"), changed));
}

}  // namespace
}  // namespace dovra
