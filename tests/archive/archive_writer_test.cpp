#include "archive/archive_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/archive_reader.h"
#include "archive/parallel_deflate.h"
#include "archive_test_util.h"
#include "platform/files.h"

namespace dovra {
namespace {

using test::bytesOf;
using test::errorText;
using test::highlyCompressible;
using test::le32;
using test::namesIn;
using test::pattern;
using test::readFile;
using test::repetitiveBytes;
using test::sameBytes;
using test::TempDir;
using test::writeFile;
using test::zlibCompress;
using Names = std::vector<std::string>;

class ArchiveWriter : public ::testing::Test {
 protected:
  std::string input(const std::string& name, const std::string& content) {
    const std::string path = dir.file(name);
    writeFile(path, content);
    return path;
  }
  std::string archivePath() const { return dir.file("out.zlib"); }
  std::string archive() const { return readFile(archivePath()); }

  TempDir dir{"dovra-writer"};
};

TEST_F(ArchiveWriter, WorkedExampleAndAnEmptyInputAreExactlyTheirBytes) {
  CompressFiles({input("x.fbk", "abc")}, archivePath());
  EXPECT_EQ(archive(), bytesOf({0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x78, 0x2E,
                                0x66, 0x62, 0x6B, 0x03, 0x00, 0x00, 0x00, 0x78, 0x9C, 0x4B,
                                0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01, 0x27}));
  CompressFiles({input("e.fbk", "")}, archivePath());
  EXPECT_EQ(archive(), le32(1) + le32(5) + "e.fbk" + le32(0) +
                           bytesOf({0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
}

TEST_F(ArchiveWriter, EntriesFollowTheListWithBareWindows1252NamesAndPlainStreams) {
  const std::string a = repetitiveBytes(70000, 1), b = pattern(5000, 2);
  std::filesystem::create_directory(dir.path() / "sub");
  const std::string pathA = input("sub/ação.fbk", a);
  const std::string pathB = input("sub/c:b.fbk", b);  // the name is what follows the ":"
  CompressFiles({pathA, pathB}, archivePath(), {}, 1);
  const std::string nameA = "a\xE7\xE3o.fbk";
  EXPECT_TRUE(sameBytes(archive(), le32(2) + le32(static_cast<int32_t>(nameA.size())) + nameA +
                                       le32(70000) + zlibCompress(a, 6) + le32(5) + "b.fbk" +
                                       le32(5000) + zlibCompress(b, 6)));

  // Two inputs with one name give two entries, in list order.
  std::filesystem::create_directory(dir.path() / "two");
  CompressFiles({input("sub/db.fbk", "first"), input("two/db.fbk", "second!")}, archivePath());
  const auto entries = listArchive(archivePath());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name + " " + std::to_string(entries[0].size), "db.fbk 5");
  EXPECT_EQ(entries[1].name + " " + std::to_string(entries[1].size), "db.fbk 7");
}

TEST_F(ArchiveWriter, AnEmptyListLeavesAnOldArchiveAndANewOneHoldsOnlyItsEntries) {
  CompressFiles({}, archivePath());
  EXPECT_FALSE(std::filesystem::exists(archivePath()));
  writeFile(archivePath(), "old archive");
  CompressFiles({}, archivePath());
  EXPECT_EQ(archive(), "old archive");
  EXPECT_EQ(namesIn(dir.path()), Names{"out.zlib"});

  CompressFiles({input("a.fbk", pattern(200000, 3)), input("b.fbk", "bb")}, archivePath());
  CompressFiles({input("x.fbk", "abc")}, archivePath());
  EXPECT_EQ(archive().size(), 28u);
  EXPECT_EQ(namesIn(dir.path()), (Names{"a.fbk", "b.fbk", "out.zlib", "x.fbk"}));
}

TEST_F(ArchiveWriter, FailureMidwayRemovesTheTemporaryAndKeepsTheOldArchive) {
  writeFile(archivePath(), "old archive");
  const std::string first = input("a.fbk", "aaaa");
  const std::string shrinking = input("b.fbk", pattern(1 << 20, 4));
  int events = 0;
  const auto progress = [&](const CompressProgress& p) {
    // The input loses its tail while it is being read.
    if (events++ == 0) {
      EXPECT_EQ(::truncate(shrinking.c_str(), 100000), 0);
    }
    EXPECT_EQ(p.entry, 1u);
  };
  EXPECT_EQ(errorText([&] {
              CompressFiles({first, shrinking}, archivePath(), progress, 1);
            }),
            "Stream read error");
  EXPECT_GT(events, 0);
  EXPECT_EQ(archive(), "old archive");
  EXPECT_EQ(namesIn(dir.path()), (Names{"a.fbk", "b.fbk", "out.zlib"}));
}

TEST_F(ArchiveWriter, InputsThatCannotBeReadAndAFolderThatCannotTakeTheArchive) {
  const std::string missing = dir.file("nada.fbk");
  EXPECT_EQ(errorText([&] {
              CompressFiles({input("a.fbk", "a"), missing}, archivePath());
            }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(archivePath()));
  EXPECT_EQ(errorText([&] { CompressFiles({dir.path().string()}, archivePath()); }),
            "Cannot open file \"" + dir.path().string() + "\". Is a directory");
  const std::string badArchive = dir.file("no/such/folder/out.zlib");
  EXPECT_EQ(errorText([&] { CompressFiles({input("b.fbk", "b")}, badArchive); }),
            "Cannot create file \"" + badArchive + "\". No such file or directory");
  EXPECT_EQ(namesIn(dir.path()), (Names{"a.fbk", "b.fbk"}));

  // An input of 2 GiB is refused before anything is written.
  writeFile(archivePath(), "old archive");
  const std::string big = dir.file("big.fbk");
  writeFile(big, "");
  ASSERT_EQ(::truncate(big.c_str(), int64_t{1} << 31), 0);  // sparse: no disk used
  EXPECT_EQ(errorText([&] {
              CompressFiles({dir.file("a.fbk"), big}, archivePath());
            }),
            "Arquivo muito grande para compactar: \"" + big +
                "\" (2147483648 bytes; o limite é 2147483647 bytes)");
  EXPECT_THROW(CompressFiles({big}, archivePath()), EFileTooLarge);
  EXPECT_EQ(archive(), "old archive");
  EXPECT_EQ(namesIn(dir.path()), (Names{"a.fbk", "b.fbk", "big.fbk", "out.zlib"}));
}

// The id of a process that has ended (and been reaped).
long endedProcessId() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

TEST_F(ArchiveWriter, StaleTemporariesOfEndedPackingsAreRemovedOthersStay) {
  const std::string dead = std::to_string(endedProcessId());
  const std::string a = input("a.fbk", "aaaa");
  // Left by ended packings: of this archive and of another ".zlib" archive of the folder.
  for (const std::string& name : {"out.zlib.tmp-" + dead + "-0123abcd",
                                  "EMPRESA20261208143000.zlib.tmp-" + dead + "-ffffffff"}) {
    writeFile(dir.file(name), pattern(70000, 1));
  }
  // Not ours, or not stale: a running process's (pid 1 always runs), a locked one whose
  // process is not on this machine, names of other forms, another archive kind.
  const std::string locked = "out.zlib.tmp-" + dead + "-00000001";
  const Names kept = {"EMPRESA.zlib.tmp-1-89abcdef",
                      "EMPRESA.zlib.upload.tmp-" + dead + "-3-123456",
                      "notas.txt.tmp-" + dead + "-0123abcd",
                      "out.zlib.tmp-" + dead + "-0123ABCD",
                      "out.zlib.tmp-" + dead + "-0123abc",
                      "out.zlib.tmp-" + dead,
                      locked};
  for (const std::string& name : kept) writeFile(dir.file(name), "x");
  const int held = ::open(dir.file(locked).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_TRUE(markInUse(held));
  std::filesystem::create_symlink(dir.file("a.fbk"),
                                  dir.file("out.zlib.tmp-" + dead + "-aaaaaaaa"));

  CompressFiles({a}, archivePath());
  Names expected = kept;
  expected.insert(expected.end(), {"a.fbk", "out.zlib", "out.zlib.tmp-" + dead + "-aaaaaaaa"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(namesIn(dir.path()), expected);
  EXPECT_EQ(readFile(a), "aaaa");

  // Once the file is no longer held, the next packing removes it.
  ::close(held);
  CompressFiles({a}, archivePath());
  EXPECT_FALSE(std::filesystem::exists(dir.file(locked)));
}

TEST_F(ArchiveWriter, ProgressFiresPerFullBufferOfCompressedOutputAndNotForSmallOutput) {
  const std::string small = input("small.fbk", highlyCompressible(300000));
  const std::string noisy = input("noisy.fbk", pattern(300000, 6));
  std::vector<CompressProgress> events;
  CompressFiles(
      {small, noisy}, archivePath(), [&](const CompressProgress& p) { events.push_back(p); }, 1);
  const auto entries = listArchive(archivePath());
  ASSERT_LT(entries[0].compressedSize, 65536u);
  const size_t full = entries[1].compressedSize / 65536;
  ASSERT_EQ(full, 4u);
  ASSERT_GE(events.size(), full - 1);
  ASSERT_LE(events.size(), full);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].entry, 1u);  // none for the entry compressing below 65,536 bytes
    EXPECT_EQ(events[i].entryCount, 2u);
    EXPECT_EQ(events[i].entrySize, 300000u);
    EXPECT_EQ(events[i].bytesOut, (i + 1) * 65536);
    EXPECT_LE(events[i].bytesIn, 300000u);
    if (i > 0) {
      EXPECT_GT(events[i].bytesIn, events[i - 1].bytesIn);
    }
  }
}

TEST_F(ArchiveWriter, ParallelPathWritesOneOrdinaryZlibStreamThatPythonReads) {
  std::string data =
      repetitiveBytes(3 << 20, 7) + pattern(1 << 20, 8) + repetitiveBytes((2 << 20) + 12345, 9);
  const std::string path = input("big.fbk", data);
  size_t events = 0;
  CompressFiles(
      {path}, archivePath(), [&](const CompressProgress&) { ++events; }, 2);
  const std::string a = archive();
  const size_t streamAt = 4 + 4 + 7 + 4;
  ASSERT_EQ(a.substr(0, streamAt),
            le32(1) + le32(7) + "big.fbk" + le32(static_cast<int32_t>(data.size())));
  EXPECT_EQ(a.substr(streamAt, 2), bytesOf({0x78, 0x9C}));
  EXPECT_FALSE(sameBytes(a.substr(streamAt), zlibCompress(data, 6)));  // the parallel path
  EXPECT_EQ(events, (a.size() - streamAt) / 65536);

  // Another zlib reader takes the stream as one stream and finds nothing after it.
  const std::string check = test::runPython(
      "import sys, zlib\n"
      "a = open(sys.argv[1], 'rb').read()[int(sys.argv[2]):]\n"
      "d = zlib.decompressobj()\n"
      "out = d.decompress(a)\n"
      "ok = d.eof and not d.unused_data and out == open(sys.argv[3], 'rb').read()\n"
      "print('same' if ok else 'different')\n",
      {archivePath(), std::to_string(streamAt), path});
  EXPECT_EQ(check, "same\n");
}

TEST_F(ArchiveWriter, PlainStreamBelowTheThresholdOrWithOneWorker) {
  const std::string below =
      repetitiveBytes(4096, 10) + highlyCompressible(kParallelThreshold - 4097);
  CompressFiles({input("below.fbk", below)}, archivePath(), {}, 4);
  EXPECT_TRUE(sameBytes(archive().substr(4 + 4 + 9 + 4), zlibCompress(below, 6)));

  const std::string above = repetitiveBytes(4096, 11) + highlyCompressible(kParallelThreshold);
  CompressFiles({input("above.fbk", above)}, archivePath(), {}, 1);
  EXPECT_TRUE(sameBytes(archive().substr(4 + 4 + 9 + 4), zlibCompress(above, 6)));
}

// A 1 MiB tmpfs, to fill a disk without filling the machine's.
class ArchiveOnAFullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  }

  TempDir dir{"dovra-fulldisk"};
  std::filesystem::path disk = dir.path() / "disk";
  test::SmallDisk tmpfs{disk, "1m"};
};

TEST_F(ArchiveOnAFullDisk, PackingAndUnpackingGiveStreamWriteErrorAndKeepTheOldFiles) {
  const std::string oldPath = (disk / "db.zlib").string();
  const std::string small = dir.file("small.fbk");
  writeFile(small, repetitiveBytes(100000, 12));
  CompressFiles({small}, oldPath);
  const std::string old = readFile(oldPath);

  const std::string big = dir.file("big.fbk");
  writeFile(big, pattern(5 << 20, 13));  // above the parallel threshold
  for (unsigned workers : {1u, 2u}) {
    EXPECT_EQ(errorText([&] {
                CompressFiles({small, big}, oldPath, {}, workers);
              }),
              "Stream write error");
    EXPECT_EQ(namesIn(disk), Names{"db.zlib"});
    EXPECT_EQ(readFile(oldPath), old);
  }

  std::filesystem::remove(oldPath);
  const std::string archivePath = dir.file("a.zlib");
  CompressFiles({big}, archivePath);
  writeFile(disk / "big.fbk", "previous good file");
  EXPECT_EQ(errorText([&] { DecompressFiles(archivePath, disk.string()); }), "Stream write error");
  EXPECT_EQ(namesIn(disk), Names{"big.fbk"});
  EXPECT_EQ(readFile(disk / "big.fbk"), "previous good file");
}

}  // namespace
}  // namespace dovra
