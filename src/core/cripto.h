// The character-shifting routine that unscrambles the installation identifier and the
// database credentials (both are scrambled outside this program, which only unscrambles).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovra {

// Returns a copy of `text` with each byte shifted: at position i (1-based) the shift is
// k + 9 where k = i mod 13 (13 when the remainder is 0), so 10, 11, ..., 22, 10, ...
// Mode 1 adds the shift, any other mode subtracts it; the arithmetic wraps within the
// byte. Works on raw bytes (Windows-1252 on disk), never on UTF-8 text. Pure function.
std::string cripto(std::string_view text, int32_t mode);

}  // namespace dovra
