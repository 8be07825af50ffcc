#include "core/cripto.h"

namespace dovra {
namespace {
// Only the key's length takes part in the computation.
constexpr std::string_view kKey = "trovanelusque";
}  // namespace

std::string cripto(std::string_view text, int32_t mode) {
  const size_t keyLength = kKey.size();
  std::string out(text);
  for (size_t i = 1; i <= out.size(); ++i) {
    size_t k = i % keyLength;
    if (k == 0) k = keyLength;
    const unsigned shift = static_cast<unsigned>(k + 9);
    const auto code = static_cast<unsigned char>(out[i - 1]);
    out[i - 1] = static_cast<char>(mode == 1 ? (code + shift) & 0xFF : (code - shift) & 0xFF);
  }
  return out;
}

}  // namespace dovra
