// What the client's parameter blocks (database, service) and information answers (database,
// statement, service) share: the names a parameter list is looked up by, and the integers
// of the answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dovra {

// A parameter's name as the blocks look it up: ASCII letters in lower case.
std::string lowerName(std::string_view name);
// Whether a parameter's line or name holds only blanks (and is skipped).
bool isBlank(std::string_view text);
// The little-endian integer of `length` bytes (up to 8) at `p`, sign-extended from its
// length, as the client writes the numbers of its answers.
int64_t littleEndian(const char* p, size_t length);

}  // namespace dovra
