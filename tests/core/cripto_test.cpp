#include "core/cripto.h"

#include <gtest/gtest.h>

namespace dovra {
namespace {

std::string bytes(std::initializer_list<int> codes) {
  std::string s;
  for (int c : codes) s += static_cast<char>(c);
  return s;
}

TEST(Cripto, ShiftRunsTenToTwentyTwoAndStartsAgainAtPositionFourteen) {
  const std::string zeros(26, '\0');
  const std::string out = cripto(zeros, 1);
  for (size_t i = 0; i < 13; ++i) EXPECT_EQ(static_cast<unsigned char>(out[i]), 10 + i) << i;
  EXPECT_EQ(static_cast<unsigned char>(out[13]), 10);  // position 14
  EXPECT_EQ(static_cast<unsigned char>(out[25]), 22);  // position 26
}

TEST(Cripto, ArithmeticWrapsWithinTheByte) {
  // Code 250 at position 13 (shift 22) becomes 16 under mode 1.
  std::string text(12, 'a');
  text += static_cast<char>(250);
  EXPECT_EQ(static_cast<unsigned char>(cripto(text, 1)[12]), 16);
  // Code 5 at position 1 (shift 10) becomes 251 under any other mode.
  EXPECT_EQ(cripto(bytes({5}), 0), bytes({251}));
  EXPECT_EQ(cripto(bytes({5}), -7), bytes({251}));
}

TEST(Cripto, ModeOneUndoesAnyOtherModeByteForByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += all;  // 512 bytes: every byte at many positions of the key cycle
  EXPECT_EQ(cripto(cripto(all, 0), 1), all);
  EXPECT_EQ(cripto(cripto(all, 1), 3), all);
  EXPECT_EQ(cripto(cripto("SYSDBA", 0), 1), "SYSDBA");
  EXPECT_NE(cripto("SYSDBA", 0), "SYSDBA");
  EXPECT_EQ(cripto("", 1), "");
  EXPECT_EQ(cripto("", 2), "");
}

TEST(Cripto, KnownScrambledTextUnscrambles) {
  // "masterkey" scrambled with mode 0 by hand: each byte minus 10, 11, ..., 18.
  const std::string scrambled = bytes(
      {'m' - 10, 'a' - 11, 's' - 12, 't' - 13, 'e' - 14, 'r' - 15, 'k' - 16, 'e' - 17, 'y' - 18});
  EXPECT_EQ(cripto(scrambled, 1), "masterkey");
}

}  // namespace
}  // namespace dovra
