#include "archive/zlib_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

#include "archive/stream.h"
#include "archive_test_util.h"

namespace dovra {
namespace {

using test::errorText;
using test::pattern;
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

// The default level's stream and the progress per full buffer are checked through the
// archive writer; the program uses no other level.

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
  const std::string data = pattern(150000, 3);
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

TEST(CompressionStream, FullDestinationGivesStreamWriteError) {
  const std::string data = pattern(200000, 6);
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
// source that ends inside the stream, are driven through the archive reader; the progress
// per block read through the unpack page.

TEST(DecompressionStream, ReadsInSmallPiecesAndReturnsToItsPositionAfterTheCallerMovedTheSource) {
  const std::string data = pattern(200000, 8);
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
