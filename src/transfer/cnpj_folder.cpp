#include "transfer/cnpj_folder.h"

#include <algorithm>

namespace dovra {

std::string cleanCnpj(std::string_view cnpj) {
  std::string out(cnpj);
  for (const char c : {'.', '/', '-'}) out.erase(std::remove(out.begin(), out.end(), c), out.end());
  return out;
}

std::string trimText(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string cnpjFolderName(std::string_view cnpj) {
  const std::string trimmed = trimText(cnpj);
  if (trimmed.empty()) return kNoCnpjFolder;
  std::string cleaned = cleanCnpj(trimmed);
  if (cleaned == "0") return kNoCnpjFolder;
  return cleaned;
}

}  // namespace dovra
