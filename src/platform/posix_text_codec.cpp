#include <langinfo.h>

#include <clocale>
#include <string>

#include "platform/text_codec.h"

namespace dovra {

void useUtf8CharacterType() {
  const auto isUtf8 = [] {
    const std::string codeset = nl_langinfo(CODESET);
    return codeset == "UTF-8" || codeset == "utf8";
  };
  if (std::setlocale(LC_CTYPE, "") != nullptr && isUtf8()) return;
  std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace dovra
