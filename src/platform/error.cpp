#include "platform/error.h"

#include <cerrno>

namespace dovra {

EInOutError EInOutError::fromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return EInOutError(2, "File not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return EInOutError(5, "File access denied");
    case EMFILE:
    case ENFILE:
      return EInOutError(4, "Too many open files");
    case ENOSPC:
      return EInOutError(112, "Disk full");
    case ENAMETOOLONG:
      return EInOutError(123, "Invalid filename");
    default:
      return EInOutError(err, "I/O error " + std::to_string(err));
  }
}

}  // namespace dovra
