#include "firebird/sql_params.h"

namespace dovra {
namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

// The closing delimiter of a q'<open>...<close>' literal.
char closingDelimiter(char open) {
  switch (open) {
    case '(':
      return ')';
    case '[':
      return ']';
    case '{':
      return '}';
    case '<':
      return '>';
    default:
      return open;
  }
}

}  // namespace

std::string upperName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string sqlQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

ParsedSql parseNamedParams(std::string_view sql) {
  ParsedSql parsed;
  std::string& out = parsed.text;
  out.reserve(sql.size());
  size_t i = 0;
  const size_t n = sql.size();
  // Copies sql[i, end) and moves i to end.
  auto copyTo = [&](size_t end) {
    out.append(sql.substr(i, end - i));
    i = end;
  };
  while (i < n) {
    const char c = sql[i];
    const bool prevIsNameChar = i > 0 && isNameChar(sql[i - 1]);
    if ((c == 'q' || c == 'Q') && !prevIsNameChar && i + 2 < n && sql[i + 1] == '\'') {
      const char close = closingDelimiter(sql[i + 2]);
      size_t j = i + 3;
      while (j + 1 < n && !(sql[j] == close && sql[j + 1] == '\'')) ++j;
      copyTo(j + 1 < n ? j + 2 : n);
    } else if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;  // doubled quote inside the literal
            continue;
          }
          break;
        }
        ++j;
      }
      copyTo(j < n ? j + 1 : n);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const size_t eol = sql.find('\n', i);
      copyTo(eol == std::string_view::npos ? n : eol);
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      copyTo(end == std::string_view::npos ? n : end + 2);
    } else if (c == ':' && i + 1 < n && sql[i + 1] == '"') {
      const size_t end = sql.find('"', i + 2);
      if (end == std::string_view::npos) {
        copyTo(n);
      } else {
        parsed.names.emplace_back(sql.substr(i + 2, end - i - 2));
        out += '?';
        i = end + 1;
      }
    } else if (c == ':' && i + 1 < n && isNameChar(sql[i + 1])) {
      size_t j = i + 1;
      while (j < n && isNameChar(sql[j])) ++j;
      parsed.names.push_back(upperName(sql.substr(i + 1, j - i - 1)));
      out += '?';
      i = j;
    } else if (c == '?') {
      parsed.names.emplace_back();
      out += '?';
      ++i;
    } else {
      out += c;
      ++i;
    }
  }
  return parsed;
}

}  // namespace dovra
