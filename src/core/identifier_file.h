// The installation identifier file, whose first line holds the installation's identifier
// (enciphered with `cripto`).
#pragma once

#include <cstddef>
#include <string>

namespace dovra {

// The installation identifier file: the program folder + "/CONFIGURACAO/application.dvk".
std::string identifierFilePath();
// The longest first line accepted from the identifier file.
inline constexpr size_t kMaxIdentifierLine = 4096;
// The raw first line of a text file (up to CR, LF or Ctrl-Z; blanks kept); "" for an empty
// file. Throws EInOutError when the file cannot be opened or read, and "Invalid file
// format" when it is not a regular file or its first line exceeds kMaxIdentifierLine.
std::string readFirstLine(const std::string& path);

}  // namespace dovra
