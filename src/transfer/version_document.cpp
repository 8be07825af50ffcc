#include "transfer/version_document.h"

#include <charconv>

#include "platform/error.h"
#include "platform/http_get.h"
#include "platform/xml_document.h"

namespace dovra {

int32_t parseVersionDocument(std::string_view body) {
  XmlNode root;
  try {
    root = parseXmlDocument(body);
  } catch (const Exception& e) {
    throw Exception(std::string("Invalid version document: ") + e.what());
  }
  if (root.name != "dovrainformatica") {
    throw Exception("Invalid version document: no dovrainformatica element");
  }
  const XmlNode* versao = root.childElement("versao");
  if (!versao) throw Exception("Invalid version document: no versao element");
  const std::string text = versao->allText();
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  const char* first = text.data() + begin;
  const char* last = text.data() + end;
  if (first != last && *first == '+') ++first;
  int32_t value = 0;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || ptr != last) {
    throw Exception("'" + text.substr(begin, end - begin) + "' is not a valid integer value");
  }
  return value;
}

int32_t fetchPublishedVersion(const std::string& url) {
  const HttpResponse response = httpGet(url);
  if (response.status != 200) {
    throw Exception("HTTP status " + std::to_string(response.status) + " for " + url);
  }
  return parseVersionDocument(response.body);
}

}  // namespace dovra
