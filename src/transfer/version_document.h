// The version document the maker publishes: root element `dovrainformatica` with a child
// element `versao` whose text, blanks around it allowed, is a decimal integer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovra {

// Reads the published version from a document body. Parsed without DTD processing (a
// document with a DOCTYPE is refused) and without external entities. Throws
// dovra::Exception when the body is not well-formed, an element is missing or the text
// is not a 32-bit integer.
int32_t parseVersionDocument(std::string_view body);

// Fetches the document with an HTTP GET and parses it. Throws dovra::Exception on any
// failure, including an HTTP status other than 200. Blocks for at most the HTTP limits.
int32_t fetchPublishedVersion(const std::string& url);

}  // namespace dovra
