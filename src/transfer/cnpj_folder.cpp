#include "transfer/cnpj_folder.h"
#include "platform/trim.h"

#include <algorithm>

namespace dovra {

std::string cleanCnpj(std::string_view cnpj) {
  std::string out(cnpj);
  for (const char c : {'.', '/', '-'}) out.erase(std::remove(out.begin(), out.end(), c), out.end());
  return out;
}

std::string cnpjFolderName(std::string_view cnpj) {
  const std::string trimmed = trimText(cnpj);
  if (trimmed.empty()) return kNoCnpjFolder;
  std::string cleaned = cleanCnpj(trimmed);
  if (cleaned == "0") return kNoCnpjFolder;
  return cleaned;
}

}  // namespace dovra
