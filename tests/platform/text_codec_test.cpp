#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include "platform/trim.h"

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

TEST(Trim, ATextLosesBlanksAndControlCharactersAProfileLineOnlyItsWhiteSpace) {
  const struct {
    const char* text;
    const char* trimmed;  // a text
    const char* profile;  // a profile file's name or value
  } cases[] = {
      {"", "", ""},
      {" \t\r\v\f", "", ""},
      {"\n", "", "\n"},
      {"\x01\x02x\x1F", "x", "\x01\x02x\x1F"},  // binary bytes stay in a value
      {" \t220 ok \r", "220 ok", "220 ok"},
      {"a \t b", "a \t b", "a \t b"},                          // inside, untouched
      {" ação\r", "ação", "ação"},                             // UTF-8 ends kept
      {"\xE7\xE3o \xA0", "\xE7\xE3o \xA0", "\xE7\xE3o \xA0"},  // Windows-1252, no-break space
      {"\x7F", "\x7F", "\x7F"},
  };
  const auto within = [](std::string_view part, const std::string& text) {
    return part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size();
  };
  for (const auto& c : cases) {
    const std::string text = c.text;
    EXPECT_EQ(trimText(text), c.trimmed) << '"' << c.text << '"';
    EXPECT_EQ(trimmedView(text), c.trimmed) << '"' << c.text << '"';
    EXPECT_EQ(trimmedProfileView(text), c.profile) << '"' << c.text << '"';
    // Views are parts of the text itself, not copies.
    EXPECT_TRUE(within(trimmedView(text), text) && within(trimmedProfileView(text), text));
  }
}

TEST(TextCodec, LengthAndLeftCountCharactersNotBytes) {
  EXPECT_EQ(utf8Length("ação"), 4u);
  EXPECT_EQ(utf8Left("ação", 2), "aç");
  EXPECT_EQ(utf8Left("ab", 30), "ab");
}

}  // namespace
}  // namespace dovra
