#include "archive/zlib_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

#include "archive/stream.h"
#include "archive_test_util.h"

namespace dovra {
namespace {

using test::errorText;
using test::randomBytes;
using test::sameBytes;
using test::zlibCompress;

std::string inflateAll(const std::string& stream, size_t expected) {
  MemoryStream source(stream);
  TDecompressionStream z(source);
  std::string out(expected, '\0');
  out.resize(z.read(out.data(), out.size()));
  return out;
}

// ---- compression ----

// The default level's stream is compared with zlib's own by the archive writer's tests;
// the program uses no other level.

TEST(CompressionStream, RefusesReadSeeksAndWritesAfterFinish) {
  MemoryStream dest;
  TCompressionStream z(CompressionLevel::clDefault, dest);
  z.write("hello", 5);
  EXPECT_EQ(z.seek(0, SeekOrigin::Current), 5);
  EXPECT_EQ(z.position(), 5);
  char c;
  EXPECT_THROW(z.read(&c, 1), ECompressionError);
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { z.read(&c, 1); }, [&] { z.seek(1, SeekOrigin::Current); },
           [&] { z.seek(0, SeekOrigin::Begin); }, [&] { z.seek(0, SeekOrigin::End); },
           [&] { z.size(); }}) {
    EXPECT_EQ(errorText(refused), "Invalid stream operation");
  }
  z.finish();
  EXPECT_THROW(z.write("x", 1), ECompressionError);
  EXPECT_EQ(inflateAll(dest.data(), 5), "hello");
}

TEST(CompressionStream, StartsAtTheDestinationsPositionAndReturnsThereAfterTheCallerMovedIt) {
  const std::string data = randomBytes(150000, 3);
  MemoryStream dest;
  dest.write("HDR", 3);
  TCompressionStream z(CompressionLevel::clDefault, dest);
  z.write(data.data(), 100000);  // at least one buffer reaches the destination
  ASSERT_GT(dest.data().size(), 3u);
  dest.setPosition(0);
  z.write(data.data() + 100000, 50000);
  dest.setPosition(1);
  z.finish();
  ASSERT_EQ(dest.data().substr(0, 3), "HDR");
  EXPECT_TRUE(sameBytes(dest.data().substr(3), zlibCompress(data, 6)));
}

TEST(CompressionStream, ProgressFiresOncePerFullBufferWrittenAndNeverWhileFinishing) {
  const std::string data = randomBytes(300000, 4);
  MemoryStream dest;
  TCompressionStream z(CompressionLevel::clDefault, dest);
  std::vector<size_t> destSizes;
  z.OnProgress = [&](TCustomZlibStream& sender) {
    EXPECT_EQ(&sender, &z);
    destSizes.push_back(dest.data().size());
  };
  for (size_t i = 0; i < data.size(); i += 61440) {
    z.write(data.data() + i, std::min<size_t>(61440, data.size() - i));
  }
  const size_t eventsBeforeFinish = destSizes.size();
  z.finish();
  EXPECT_EQ(destSizes.size(), eventsBeforeFinish);
  const size_t full = dest.data().size() / 65536;  // 300,000 random bytes: 4 full buffers
  ASSERT_EQ(full, 4u);
  EXPECT_GE(destSizes.size(), full - 1);
  EXPECT_LE(destSizes.size(), full);
  for (size_t i = 0; i < destSizes.size(); ++i) EXPECT_EQ(destSizes[i], (i + 1) * 65536);
}

TEST(CompressionStream, FullDestinationGivesStreamWriteError) {
  const std::string data = randomBytes(200000, 6);
  MemoryStream dest({}, 1000);
  const std::string msg = errorText([&] {
    TCompressionStream z(CompressionLevel::clDefault, dest);
    z.write(data.data(), data.size());
    z.finish();
  });
  EXPECT_EQ(msg, "Stream write error");
}

// ---- decompression ----
// Reading an entry's stream to its end and leaving the source on the next entry, and a
// source that ends inside the stream, are driven through the archive reader.

TEST(DecompressionStream, ReadsInSmallPiecesAndReturnsToItsPositionAfterTheCallerMovedTheSource) {
  const std::string data = randomBytes(200000, 8);
  MemoryStream source(zlibCompress(data, 6));
  TDecompressionStream z(source);
  std::string out;
  char buf[1000];
  for (;;) {
    const size_t n = z.read(buf, sizeof buf);
    out.append(buf, n);
    source.setPosition(0);  // the stream must not take this as its input's position
    if (n < sizeof buf) break;
  }
  EXPECT_TRUE(sameBytes(out, data));
  EXPECT_TRUE(z.ended());
}

TEST(DecompressionStream, ProgressFiresAsEachBlockIsReadWithThePositionBeforeIt) {
  const std::string data = randomBytes(200000, 9);
  const std::string stream = zlibCompress(data, 6);
  MemoryStream source(stream);
  TDecompressionStream z(source);
  std::vector<int64_t> positions;
  z.OnProgress = [&](TCustomZlibStream& sender) { positions.push_back(sender.position()); };
  std::string out(data.size() + 1, '\0');
  EXPECT_EQ(z.read(out.data(), out.size()), data.size());
  ASSERT_EQ(positions.size(), (stream.size() + 65535) / 65536);
  EXPECT_EQ(positions[0], 0);
  for (size_t i = 1; i < positions.size(); ++i) {
    EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_LT(positions[i], static_cast<int64_t>(data.size()));
  }
}

TEST(DecompressionStream, RefusesWriteAndSeeksOtherThanPosition) {
  MemoryStream source(zlibCompress("abc", 6));
  TDecompressionStream z(source);
  EXPECT_THROW(z.write("x", 1), EDecompressionError);
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { z.write("x", 1); }, [&] { z.seek(0, SeekOrigin::Begin); },
           [&] { z.seek(2, SeekOrigin::Current); }}) {
    EXPECT_EQ(errorText(refused), "Invalid stream operation");
  }
  EXPECT_EQ(z.seek(0, SeekOrigin::Current), 0);
}

// Corrupt data and a wrong checksum are driven through the archive reader.
TEST(DecompressionStream, AStreamThatNeedsAPresetDictionaryGivesError) {
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, 6), Z_OK);
  ASSERT_EQ(deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>("dict"), 4), Z_OK);
  std::string withDict(100, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>("dictdict"));
  zs.avail_in = 8;
  zs.next_out = reinterpret_cast<Bytef*>(withDict.data());
  zs.avail_out = 100;
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  withDict.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_EQ(errorText([&] { inflateAll(withDict, 8); }), "Error");
  EXPECT_THROW(inflateAll(withDict, 8), EDecompressionError);
}

}  // namespace
}  // namespace dovra
