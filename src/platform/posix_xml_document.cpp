#include <pugixml.hpp>

#include "platform/error.h"
#include "platform/xml_document.h"

namespace dovra {
namespace {

XmlNode convert(const pugi::xml_node& element, int depth) {
  if (depth > kXmlMaxDepth) throw Exception("Document nested too deeply");
  XmlNode out;
  out.isElement = true;
  out.name = element.name();
  for (const auto& child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      XmlNode text;
      text.text = child.value();
      out.children.push_back(std::move(text));
    } else if (child.type() == pugi::node_element) {
      out.children.push_back(convert(child, depth + 1));
    }
  }
  return out;
}

}  // namespace

XmlNode parseXmlDocument(std::string_view body) {
  pugi::xml_document doc;
  const auto result = doc.load_buffer(
      body.data(), body.size(), pugi::parse_default | pugi::parse_doctype, pugi::encoding_auto);
  if (!result) throw Exception(result.description());
  for (const auto& child : doc.children()) {
    if (child.type() == pugi::node_doctype) throw Exception("DTD not allowed");
  }
  const pugi::xml_node root = doc.document_element();
  if (!root) throw Exception("No document element");
  return convert(root, 1);
}

}  // namespace dovra
