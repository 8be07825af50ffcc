#include "platform/xml_document.h"

namespace dovra {

const XmlNode* XmlNode::childElement(std::string_view wanted) const {
  for (const XmlNode& child : children) {
    if (child.isElement && child.name == wanted) return &child;
  }
  return nullptr;
}

std::string XmlNode::allText() const {
  if (!isElement) return text;
  std::string out;
  for (const XmlNode& child : children) out += child.allText();
  return out;
}

}  // namespace dovra
