#include <windows.h>

#include "platform/text_codec.h"

namespace dovra {

// The program's texts reach the API as wide strings converted from UTF-8, so the process's
// own code page never touches them; the console is switched to UTF-8 so that the console
// front end's lines arrive as the bytes written.
void useUtf8CharacterType() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

}  // namespace dovra
