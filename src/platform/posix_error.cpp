#include <cstring>
#include <string>

#include "platform/error.h"

namespace dovra {

std::string systemErrorText(int err) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  return text ? std::string(text) : std::string("Unknown error ") + std::to_string(err);
}

}  // namespace dovra
