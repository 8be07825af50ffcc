#include "platform/instance_names.h"

#include <cstdint>

namespace dovra {

namespace {
const char* const kHex = "0123456789ABCDEF";
}

std::string instanceScopeHash(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  std::string out;
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(h >> shift) & 15];
  return out;
}

void appendHexEscape(std::string& out, unsigned char c) {
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

}  // namespace dovra
