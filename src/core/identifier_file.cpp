#include "core/identifier_file.h"

#include "platform/files.h"
#include "platform/paths.h"

namespace dovra {

std::string identifierFilePath() {
  return programFolder() + "/CONFIGURACAO/application.dvk";
}

std::string readFirstLine(const std::string& path) {
  // An identifier is a short text: a longer first line means the file is not one.
  return readFirstLineBounded(path, kMaxIdentifierLine);
}

}  // namespace dovra
