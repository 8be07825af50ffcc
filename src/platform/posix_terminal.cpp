#include <unistd.h>

#include "platform/terminal.h"

namespace dovra {

bool standardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace dovra
