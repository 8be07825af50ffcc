#include "archive/archive_format.h"

namespace dovra::archive {

std::string_view entryNameOf(std::string_view path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool isSafeEntryName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("\\/:\0", 4)) == std::string_view::npos;
}

}  // namespace dovra::archive
