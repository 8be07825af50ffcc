#include <cstring>
#include <string>

#include "platform/error.h"

namespace dovra {

std::string systemErrorText(int err) {
  char buf[256] = "";
  if (strerror_s(buf, sizeof buf, err) != 0 || buf[0] == '\0') {
    return "Unknown error " + std::to_string(err);
  }
  return buf;
}

}  // namespace dovra
