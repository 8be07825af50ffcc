// XML documents read with the platform's own parser: pugixml on Linux, the MSXML DOM
// document (through COM) on Windows. The program reads small documents from the maker's
// web server, so a document is parsed whole into a tree of nodes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovra {

// A node of a parsed document: an element with its child nodes, or character data (text
// or CDATA). Texts are UTF-8 whatever the document's encoding.
struct XmlNode {
  bool isElement = false;
  std::string name;               // an element's name
  std::string text;               // a character-data node's text
  std::vector<XmlNode> children;  // an element's child nodes, in document order

  // The first child element named `name`, or null.
  const XmlNode* childElement(std::string_view name) const;
  // All character data below this node in document order, as a DOM's text of an element
  // gives it.
  std::string allText() const;
};

// The deepest nesting of elements a document may have; deeper ones are refused.
inline constexpr int kXmlMaxDepth = 256;

// Parses `body` and returns its root element. No DTD is processed (a document with a
// DOCTYPE is refused with "DTD not allowed") and no external entity is loaded. Throws
// dovra::Exception with the parser's description of the fault when the body is not
// well-formed or nests deeper than kXmlMaxDepth. Safe from any thread.
XmlNode parseXmlDocument(std::string_view body);

}  // namespace dovra
