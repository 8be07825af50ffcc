#include "transfer/version_document.h"

#include <pugixml.hpp>

#include <charconv>

#include "platform/error.h"
#include "platform/http_get.h"

namespace dovra {

namespace {

// All character data below a node, as a DOM's text of an element gives it.
void collectText(const pugi::xml_node& node, std::string& out) {
  for (const auto& child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      out += child.value();
    } else if (child.type() == pugi::node_element) {
      collectText(child, out);
    }
  }
}

}  // namespace

int32_t parseVersionDocument(std::string_view body) {
  pugi::xml_document doc;
  const auto result = doc.load_buffer(
      body.data(), body.size(), pugi::parse_default | pugi::parse_doctype, pugi::encoding_auto);
  if (!result) throw Exception(std::string("Invalid version document: ") + result.description());
  for (const auto& child : doc.children()) {
    if (child.type() == pugi::node_doctype) {
      throw Exception("Invalid version document: DTD not allowed");
    }
  }
  const pugi::xml_node root = doc.child("dovrainformatica");
  if (!root) throw Exception("Invalid version document: no dovrainformatica element");
  const pugi::xml_node versao = root.child("versao");
  if (!versao) throw Exception("Invalid version document: no versao element");
  std::string text;
  collectText(versao, text);
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
