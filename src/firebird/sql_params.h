// Named parameters of an SQL statement text.
//
// A parameter is a colon followed by its name (letters, digits, "_" and "$"), or by a
// name in double quotes. Quoted literals ('...' with doubled quotes inside, q'{...}'
// forms), quoted identifiers ("...") and comments (-- to the end of the line, /* ... */)
// are copied unchanged and never searched. Each parameter is replaced by "?" for the
// client library; names are kept in order of appearance, unquoted ones upper-cased, so
// a name that appears twice binds two positions. A "?" already in the text is a
// position without a name (empty string). Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovra {

struct ParsedSql {
  std::string text;                // the statement with every parameter replaced by "?"
  std::vector<std::string> names;  // one entry per "?", in order
};

ParsedSql parseNamedParams(std::string_view sql);

// An SQL string literal for `text`: single quotes around it, embedded quotes doubled.
std::string sqlQuote(std::string_view text);

// ASCII upper case of a parameter or field name.
std::string upperName(std::string_view name);

}  // namespace dovra
