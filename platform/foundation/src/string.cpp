#include "foundation/string.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "foundation/data.h"

namespace foundation {

namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string lowercaseString(std::string_view text) {
  std::string out(text);
  // Class names and command words are ASCII: they need no Unicode tables.
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || !isValidUTF8(text)) {
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
  }
  icu::UnicodeString unicode =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getRoot());
  out.clear();
  unicode.toUTF8String(out);
  return out;
}

bool lowercaseEquals(std::string_view text, std::string_view lowerCase) {
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) return lowercaseString(text) == lowerCase;
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (asciiLower(text[i]) != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace foundation
