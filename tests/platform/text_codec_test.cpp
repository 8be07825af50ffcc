#include "platform/text_codec.h"

#include <gtest/gtest.h>

namespace dovra {
namespace {

TEST(TextCodec, Windows1252AndUtf8BothWays) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
  EXPECT_EQ(utf8ToCp1252("Configuração"), "Configura\xE7\xE3o");
  EXPECT_EQ(cp1252ToUtf8("Diret\xF3rio \x80"), "Diretório €");
  EXPECT_EQ(utf8ToCp1252("日本"), "??");
  // Bytes that are not UTF-8 pass through the encoder.
  EXPECT_EQ(utf8ToCp1252("ab\xE7\xFF"), "ab\xE7\xFF");
}

TEST(TextCodec, LengthAndLeftCountCharactersNotBytes) {
  EXPECT_EQ(utf8Length("ação"), 4u);
  EXPECT_EQ(utf8Left("ação", 2), "aç");
  EXPECT_EQ(utf8Left("ab", 30), "ab");
}

}  // namespace
}  // namespace dovra
