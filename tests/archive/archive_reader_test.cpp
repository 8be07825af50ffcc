#include "archive/archive_reader.h"

#include <gtest/gtest.h>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "archive_test_util.h"

namespace dovra {
namespace {

using test::buildArchive;
using test::bytesOf;
using test::entryOf;
using test::errorText;
using test::highlyCompressible;
using test::le32;
using test::namesIn;
using test::pattern;
using test::RawEntry;
using test::readFile;
using test::repetitiveBytes;
using test::sameBytes;
using test::TempDir;
using test::writeFile;
using test::zlibCompress;

struct File {
  std::string name;
  std::string content;
};

class ArchiveReader : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(in());
    std::filesystem::create_directory(out());
  }
  std::filesystem::path in() const { return dir.path() / "in"; }
  std::filesystem::path out() const { return dir.path() / "out"; }
  std::string archivePath() const { return dir.file("a.zlib"); }

  // Packs the files with CompressFiles, unpacks them into out/ and compares byte for byte.
  void roundTrip(const std::vector<File>& files, unsigned workers) {
    std::vector<std::string> paths;
    for (const auto& f : files) {
      paths.push_back((in() / f.name).string());
      writeFile(paths.back(), f.content);
    }
    CompressFiles(paths, archivePath(), {}, workers);
    DecompressFiles(archivePath(), out().string());
    for (const auto& f : files) {
      ASSERT_TRUE(sameBytes(readFile(out() / f.name), f.content)) << f.name << " with " << workers;
    }
    const auto entries = listArchive(archivePath());
    ASSERT_EQ(entries.size(), files.size());
    uint64_t total = 4;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(entries[i].name, files[i].name);
      EXPECT_EQ(entries[i].size, static_cast<int64_t>(files[i].content.size()));
      total += 8 + entries[i].name.size() + entries[i].compressedSize;
    }
    EXPECT_EQ(total, std::filesystem::file_size(archivePath()));
  }

  void writeArchive(const std::string& bytes) { writeFile(archivePath(), bytes); }

  TempDir dir{"dovra-reader"};
};

// The first prefix of deterministic random data whose zlib stream is exactly 65,536 bytes.
std::string compressingToOneBuffer() {
  const std::string data = pattern(70000, 42);
  for (size_t n = 65400; n < 65600; ++n) {
    if (zlibCompress(data.substr(0, n), 6).size() == 65536) return data.substr(0, n);
  }
  throw std::runtime_error("no prefix compresses to 65,536 bytes");
}

// ---- round trips ----

TEST_F(ArchiveReader, RoundTripAcrossTheBufferBoundary) {
  const std::string exact = compressingToOneBuffer();
  const std::string straddle = pattern(exact.size() + 1, 42);
  // The entry whose stream fills one buffer comes first, so the next entry's name length
  // starts exactly on the second block the reader takes from the archive.
  roundTrip({{"exact.bin", exact},
             {"after.bin", "after"},
             {"straddle.bin", straddle},
             {"one.bin", "1"},
             {"empty.bin", ""}},
            1);
  const auto entries = listArchive(archivePath());
  EXPECT_EQ(entries[0].compressedSize, 65536u);
  EXPECT_EQ(entries[2].compressedSize, 65537u);
}

TEST_F(ArchiveReader, RoundTripOfMegabytesOfRandomAndRepetitiveDataOnBothPaths) {
  const std::vector<File> files = {
      {"random.fbk", pattern((4 << 20) + 99, 3)},
      {"repetitive.fbk", repetitiveBytes((1 << 20) + 777, 4) + highlyCompressible(3 << 20)},
      {"empty.fbk", ""},
      {"small.fbk", repetitiveBytes(3000, 5)},
  };
  roundTrip(files, 2);
  roundTrip(files, 1);
}

TEST_F(ArchiveReader, RoundTripOfManySmallEntriesInOnePass) {
  std::vector<File> files;
  for (int i = 0; i < 100; ++i) {
    const size_t size = static_cast<size_t>((i * 7919) % 5000);
    files.push_back(
        {"f" + std::to_string(i) + ".dat", i % 2 ? pattern(size, i) : repetitiveBytes(size, i)});
  }
  roundTrip(files, 0);
}

// ---- other writers ----

TEST_F(ArchiveReader, UnpacksAnArchiveBuiltByPythonsZlib) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the host's Python, which a Windows test program cannot wait for";
#endif
  const std::string script =
      "import struct, sys, zlib\n"
      "def entry(name, data, stream):\n"
      "    return struct.pack('<i', len(name)) + name + struct.pack('<i', len(data)) + stream\n"
      "big = bytes((i * 31 + i // 7) % 251 for i in range(300000))\n"
      "co = zlib.compressobj(level=1, wbits=10)\n"
      "small_window = co.compress(big) + co.flush()\n"
      "a = struct.pack('<i', 4)\n"
      "a += entry(b'best.fbk', big, zlib.compress(big, 9))\n"
      "a += entry(b'window.fbk', big, small_window)\n"
      "a += entry(b'empty.fbk', b'', zlib.compress(b'', 9))\n"
      "a += entry('ação.txt'.encode('cp1252'), b'texto', zlib.compress(b'texto', 0))\n"
      "open(sys.argv[1], 'wb').write(a)\n"
      "open(sys.argv[2], 'wb').write(big)\n";
  const std::string expected = dir.file("expected");
  test::runPython(script, {archivePath(), expected});
  DecompressFiles(archivePath(), out().string());
  EXPECT_EQ(namesIn(out()),
            (std::vector<std::string>{"ação.txt", "best.fbk", "empty.fbk", "window.fbk"}));
  EXPECT_TRUE(sameBytes(readFile(out() / "best.fbk"), readFile(expected)));
  EXPECT_TRUE(sameBytes(readFile(out() / "window.fbk"), readFile(expected)));
  EXPECT_EQ(readFile(out() / "empty.fbk"), "");
  EXPECT_EQ(readFile(out() / "ação.txt"), "texto");
}

// ---- texts and counts ----
// What the observer sees is driven through the unpack page.

TEST_F(ArchiveReader, CountOfZeroOrLessUnpacksNothing) {
  for (int32_t count : {0, -3}) {
    writeArchive(le32(count) + "whatever follows");
    DecompressFiles(archivePath(), out().string());
    EXPECT_TRUE(namesIn(out()).empty());
    EXPECT_TRUE(listArchive(archivePath()).empty());
  }
}

TEST(DecompressTexts, PercentIsRoundedWithDotThousandsAndNoSign) {
  EXPECT_EQ(decompressPercentText(0, 100), "0");
  EXPECT_EQ(decompressPercentText(1, 3), "33");
  EXPECT_EQ(decompressPercentText(2, 3), "67");
  EXPECT_EQ(decompressPercentText(1, 8), "13");              // 12.5: halves go up
  EXPECT_EQ(decompressPercentText(999995, 100000000), "1");  // 0.999995 -> 1.0000 -> 1
  EXPECT_EQ(decompressPercentText(100, 100), "100");
  EXPECT_EQ(decompressPercentText(12345, 1000), "1.235");
  EXPECT_EQ(decompressPercentText(12345678, 1), "1.234.567.800");
  EXPECT_EQ(decompressPercentText(0, 0), "100");
  EXPECT_EQ(decompressPercentText(8, 0), "100");
  EXPECT_EQ(decompressCounterText(12, 130), "Descomprimindo: 12 de 130");
}

// ---- replacing files ----

TEST_F(ArchiveReader, ExistingFilesAreReplacedAndALaterEntryOfTheSameNameWins) {
  writeFile(out() / "db.fbk", "old content");
  writeArchive(buildArchive({entryOf("db.fbk", "first"), entryOf("db.fbk", "second")}));
  DecompressFiles(archivePath(), out().string());
  EXPECT_EQ(readFile(out() / "db.fbk"), "second");
  EXPECT_EQ(namesIn(out()), std::vector<std::string>{"db.fbk"});
}

TEST_F(ArchiveReader, MissingArchiveOrFolderAndANameTakenByAFolder) {
  const std::string missing = dir.file("none.zlib");
  EXPECT_EQ(errorText([&] { DecompressFiles(missing, out().string()); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_EQ(errorText([&] { listArchive(missing); }),
            "Cannot open file \"" + missing + "\". No such file or directory");

  writeArchive(buildArchive({entryOf("x.fbk", "abc")}));
  const std::string noFolder = dir.file("nowhere");
  EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), noFolder); }),
            "Cannot create file \"" + noFolder + "/x.fbk\". No such file or directory");

  std::filesystem::create_directory(out() / "x.fbk");
  EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }),
            "Cannot create file \"" + out().string() + "/x.fbk\". Is a directory");
  EXPECT_EQ(namesIn(out()), std::vector<std::string>{"x.fbk"});
}

// ---- damage ----

TEST_F(ArchiveReader, TruncationAnywhereGivesStreamReadErrorAndKeepsEarlierEntries) {
  const std::string first = repetitiveBytes(100000, 8);
  const std::string second = pattern(100000, 9);
  const std::string full = buildArchive({entryOf("a.fbk", first), entryOf("b.fbk", second)});
  const size_t secondAt = 4 + 4 + 5 + 4 + zlibCompress(first, 6).size();
  const std::vector<size_t> cuts = {
      2,                  // inside the count
      4 + 2,              // inside the first name length
      4 + 4 + 3,          // inside the first name
      4 + 4 + 5 + 1,      // inside the first size
      4 + 4 + 5 + 4 + 1,  // inside the first zlib header
      secondAt - 3,       // inside the first Adler-32
      secondAt + 2,       // inside the second name length
      secondAt + 17 + 5000,
      full.size() - 1,
  };
  for (size_t cut : cuts) {
    std::filesystem::remove_all(out());
    std::filesystem::create_directory(out());
    writeArchive(full.substr(0, cut));
    EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }),
              "Stream read error")
        << cut;
    EXPECT_EQ(errorText([&] { verifyArchive(archivePath()); }), "Stream read error") << cut;
    if (cut >= secondAt) {
      EXPECT_EQ(namesIn(out()), std::vector<std::string>{"a.fbk"}) << cut;
      EXPECT_TRUE(sameBytes(readFile(out() / "a.fbk"), first));
    } else {
      EXPECT_TRUE(namesIn(out()).empty()) << cut;
    }
  }
}

TEST_F(ArchiveReader, CorruptDataOrChecksumGivesErrorAndNeverReplacesAGoodFile) {
  const std::string data = repetitiveBytes(200000, 10);
  const std::string stream = zlibCompress(data, 6);
  std::string badSum = stream, badBlock = stream;
  badSum[badSum.size() - 1] = static_cast<char>(badSum.back() ^ 0x40);
  badBlock[2] = static_cast<char>(0xFF);
  for (const std::string& damaged : {badSum, badBlock}) {
    writeFile(out() / "db.fbk", "good old file");
    writeArchive(buildArchive({entryOf("ok.fbk", "fine"), RawEntry{"db.fbk", 200000, damaged}}));
    EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }), "Error");
    EXPECT_EQ(errorText([&] { verifyArchive(archivePath()); }), "Error");
    EXPECT_EQ(errorText([&] { listArchive(archivePath()); }), "Error");
    EXPECT_EQ(readFile(out() / "db.fbk"), "good old file");
    EXPECT_EQ(readFile(out() / "ok.fbk"), "fine");
    EXPECT_EQ(namesIn(out()), (std::vector<std::string>{"db.fbk", "ok.fbk"}));
  }
}

TEST_F(ArchiveReader, StreamShorterOrLongerThanTheRecordedSize) {
  const std::string data = repetitiveBytes(10000, 11);
  // Recorded size above what the stream holds: the stream ends first.
  writeArchive(
      buildArchive({RawEntry{"a.fbk", 10001, zlibCompress(data, 6)}, entryOf("b.fbk", "more")}));
  EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }),
            "Stream read error");
  // Recorded size below it: the stream holds bytes the entry does not have.
  writeArchive(buildArchive({RawEntry{"a.fbk", 9999, zlibCompress(data, 6)}}));
  EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }), "Error");
  EXPECT_EQ(errorText([&] { verifyArchive(archivePath()); }), "Error");
  EXPECT_TRUE(namesIn(out()).empty());
}

TEST_F(ArchiveReader, HostileNamesStopTheUnpackingAndNothingIsWrittenAnywhere) {
  const std::vector<std::string> names = {
      "../x", "a/b", "C:x", "..", ".", "a\\b", std::string("a\0b", 3)};
  for (const std::string& name : names) {
    writeArchive(buildArchive({entryOf("ok.fbk", "fine"), entryOf(name, "evil")}));
    const std::string shown = name == std::string("a\0b", 3) ? "a?b" : name;
    const std::string expected =
        "Arquivo compactado danificado: nome inválido \"" + shown + "\" na entrada 2";
    EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }), expected);
    EXPECT_EQ(errorText([&] { verifyArchive(archivePath()); }), expected);
    EXPECT_THROW(DecompressFiles(archivePath(), out().string()), archive::EInvalidArchive);
  }
  EXPECT_EQ(namesIn(out()), std::vector<std::string>{"ok.fbk"});
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.zlib", "in", "out"}));
}

TEST_F(ArchiveReader, EmptyNegativeOrHugeNameLengthsAndNegativeSizesStopTheUnpacking) {
  const std::string stream = zlibCompress("evil", 6);
  struct Case {
    std::string bytes;
    std::string message;
  };
  const std::vector<Case> cases = {
      {le32(1) + le32(0) + le32(4) + stream,
       "Arquivo compactado danificado: comprimento de nome inválido (0) na entrada 1"},
      {le32(1) + le32(-1) + "x" + le32(4) + stream,
       "Arquivo compactado danificado: comprimento de nome inválido (-1) na entrada 1"},
      {le32(1) + le32(0x7FFFFFFF) + "x",
       "Arquivo compactado danificado: comprimento de nome inválido (2147483647) na entrada 1"},
      {le32(1) + le32(5) + "x.fbk" + le32(-4) + stream,
       "Arquivo compactado danificado: tamanho inválido (-4) na entrada 1"},
  };
  for (const auto& c : cases) {
    writeArchive(c.bytes);
    EXPECT_EQ(errorText([&] { DecompressFiles(archivePath(), out().string()); }), c.message);
    EXPECT_EQ(errorText([&] { listArchive(archivePath()); }), c.message);
  }
  EXPECT_TRUE(namesIn(out()).empty());
}

}  // namespace
}  // namespace dovra
