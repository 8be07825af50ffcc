// Pieces of the names under which the single-instance guards are made, the same on every
// system.
#pragma once

#include <string>

namespace dovra {

// A 16-digit hexadecimal hash of `text` (FNV-1a, 64 bits): keeps test scopes apart and
// shortens names that would not fit.
std::string instanceScopeHash(const std::string& text);

// Appends `c` as "%" and two upper-case hexadecimal digits.
void appendHexEscape(std::string& out, unsigned char c);

}  // namespace dovra
