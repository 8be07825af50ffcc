// Windows-1252 on disk, UTF-8 in memory. The settings file, the identifier file and the
// archive entry names are Windows-1252 bytes (files move between Windows and Linux
// installs); everything the program holds and shows is UTF-8.
//
// The mapping is a bijection between all 256 bytes and 256 code points: the five bytes
// that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control characters of the same value, as Windows itself maps them. So any byte string
// survives a round trip through UTF-8 unchanged.
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// Decodes Windows-1252 bytes to UTF-8. Never fails.
std::string cp1252ToUtf8(std::string_view bytes);

// Encodes UTF-8 text to Windows-1252 bytes. A code point that Windows-1252 cannot hold
// becomes "?", as the Windows conversion does; invalid UTF-8 bytes are taken as
// Windows-1252 bytes themselves, so text that was never UTF-8 passes through unchanged.
std::string utf8ToCp1252(std::string_view text);

// Number of characters (code points) in UTF-8 text; invalid bytes count one each.
size_t utf8Length(std::string_view text);

// The first `count` characters of UTF-8 text, never cutting a character in two.
std::string utf8Left(std::string_view text, size_t count);

// Makes the process's character type UTF-8: the environment's locale when it is a UTF-8
// one, else "C.UTF-8". The database client library converts database file names (and the
// embedded engine every file name) through the locale: it then takes the program's UTF-8
// names as they are. Not thread-safe: call at start-up, before other threads run.
void useUtf8CharacterType();

}  // namespace dovra
