// Blocks deflated one by one must join into one zlib stream that any inflater reads whole,
// whatever each block holds and wherever in its last byte a block ends.
#include "archive/block_deflater.h"

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_test_util.h"

namespace dovra {
namespace {

using test::highlyCompressible;
using test::repetitiveBytes;
using test::sameBytes;

std::string noise(size_t n, uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// Deflates `parts` as consecutive blocks of one input (each primed with up to 32 KiB of the
// input before it) and wraps them as a zlib stream.
std::string joinedStream(const std::vector<std::string>& parts) {
  std::string input;
  for (const auto& p : parts) input += p;
  BlockDeflater deflater;
  EXPECT_TRUE(deflater.ready());
  std::string stream = "\x78\x9c";
  size_t at = 0;
  std::vector<unsigned char> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto* data = reinterpret_cast<const unsigned char*>(input.data()) + at;
    const size_t dict = std::min<size_t>(at, 32768);
    size_t outLen = 0;
    EXPECT_TRUE(deflater.compress(data, parts[i].size(), dict, i + 1 == parts.size(), out, outLen));
    stream.append(reinterpret_cast<const char*>(out.data()), outLen);
    at += parts[i].size();
  }
  const uLong adler =
      adler32(1, reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(input.size()));
  for (int shift = 24; shift >= 0; shift -= 8) stream += static_cast<char>((adler >> shift) & 0xff);
  return stream;
}

// Inflates a whole zlib stream in one go; the stream must end exactly at its last byte.
std::string inflateWhole(const std::string& stream, size_t expectedSize) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  std::string out(expectedSize + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  EXPECT_EQ(r, Z_STREAM_END) << (z.msg ? z.msg : "");
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

std::string concat(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += p;
  return s;
}

TEST(BlockDeflater, BlocksOfEveryKindJoinIntoOneStream) {
  // Text, filler that compresses a thousandfold, noise that does not compress at all (stored
  // blocks), one byte, and an empty last block.
  const std::vector<std::string> parts = {repetitiveBytes(1 << 20, 1),
                                          highlyCompressible(1 << 20),
                                          noise(1 << 20, 2),
                                          repetitiveBytes(70000, 3),
                                          std::string(1, 'x'),
                                          noise(5, 4),
                                          std::string()};
  const std::string input = concat(parts);
  EXPECT_TRUE(sameBytes(inflateWhole(joinedStream(parts), input.size()), input));
}

TEST(BlockDeflater, BlocksEndingAnywhereInTheirLastByteStillJoin) {
  // Many short blocks of different lengths and contents: their compressed ends fall on
  // every bit position of a byte.
  std::vector<std::string> parts;
  for (int i = 0; i < 96; ++i) {
    const size_t n = 200 + static_cast<size_t>(i) * 137;
    parts.push_back(i % 3 == 2 ? noise(n, static_cast<uint64_t>(i))
                               : repetitiveBytes(n, static_cast<uint64_t>(i)));
  }
  const std::string input = concat(parts);
  EXPECT_TRUE(sameBytes(inflateWhole(joinedStream(parts), input.size()), input));
}

TEST(BlockDeflater, ALargeInputCompressesAboutAsWellAsZlibAlone) {
  const std::string text = repetitiveBytes(4 << 20, 9);
  std::vector<std::string> parts;
  for (size_t at = 0; at < text.size(); at += 1 << 20) parts.push_back(text.substr(at, 1 << 20));
  parts.emplace_back();
  const std::string stream = joinedStream(parts);
  EXPECT_TRUE(sameBytes(inflateWhole(stream, text.size()), text));
  uLongf zlibSize = compressBound(static_cast<uLong>(text.size()));
  std::string reference(zlibSize, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(reference.data()), &zlibSize,
                      reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                      Z_DEFAULT_COMPRESSION),
            Z_OK);
  EXPECT_LT(stream.size(), zlibSize + zlibSize / 20) << "more than 5% larger than zlib's";
}

}  // namespace
}  // namespace dovra
