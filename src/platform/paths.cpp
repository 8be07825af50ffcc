#include "platform/paths.h"

#include <string>

namespace dovra {
size_t lastSeparator(std::string_view path) {
  return path.find_last_of("/\\");
}

std::string directoryPart(std::string_view path) {
  const size_t i = lastSeparator(path);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
}

}  // namespace dovra
