#include "quorvel/web/WebScript.h"

#include <cstdio>

namespace WebScript {

std::string literal(const std::optional<std::string>& value) {
  if (!value) return "null";
  std::string out = "'";
  out.reserve(value->size() + 2);
  const std::string& text = *value;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\x3C"; break;  // never "</script>" when the text ends up in markup
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[5];
          std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
          out += escaped;
        } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
          // U+2028 and U+2029 end a line inside a script literal.
          out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "'";
  return out;
}

std::string call(std::string_view function, std::initializer_list<std::optional<std::string>> arguments) {
  std::string out(function);
  out += '(';
  bool first = true;
  for (const auto& argument : arguments) {
    if (!first) out += ',';
    first = false;
    out += literal(argument);
  }
  out += ')';
  return out;
}

}  // namespace WebScript
