#include <cerrno>
#include <cstring>
#include <string>

#include "platform/error.h"

namespace dovra {
namespace {

// The C runtime knows the numbers of the network errors but has no text for them; these
// are the texts the program shows on its other systems.
const char* networkErrorText(int err) {
  switch (err) {
    case ECONNREFUSED:
      return "Connection refused";
    case ETIMEDOUT:
      return "Connection timed out";
    case ECONNRESET:
      return "Connection reset by peer";
    case ECONNABORTED:
      return "Software caused connection abort";
    case ENETUNREACH:
      return "Network is unreachable";
    case EHOSTUNREACH:
      return "No route to host";
    case ENOTCONN:
      return "Transport endpoint is not connected";
    case EADDRINUSE:
      return "Address already in use";
    case ENETDOWN:
      return "Network is down";
    case ENETRESET:
      return "Network dropped connection on reset";
    case EINPROGRESS:
      return "Operation now in progress";
    default:
      return nullptr;
  }
}

}  // namespace

std::string systemErrorText(int err) {
  if (const char* text = networkErrorText(err)) return text;
  char buf[256] = "";
  if (strerror_s(buf, sizeof buf, err) != 0 || buf[0] == '\0') {
    return "Unknown error " + std::to_string(err);
  }
  return buf;
}

}  // namespace dovra
