#include <io.h>

#include <cstdio>

#include "platform/terminal.h"

namespace dovra {

bool standardErrorIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace dovra
