#include "firebird/block_bytes.h"

#include "platform/trim.h"

namespace dovra {

std::string lowerName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool isBlank(std::string_view text) {
  return trimmedView(text).empty();
}

int64_t littleEndian(const char* p, size_t length) {
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    value |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  if (length > 0 && length < 8 && (value >> (8 * length - 1)) & 1) {
    value |= ~uint64_t{0} << (8 * length);
  }
  return static_cast<int64_t>(value);
}

}  // namespace dovra
