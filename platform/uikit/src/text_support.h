// UTF-8 helpers of the text inputs and the keyboard.
#pragma once

#include <string>
#include <vector>

namespace uikit_internal {

// Removes the last character (a whole UTF-8 sequence); false when `text` is empty.
inline bool removeLastCharacter(std::string& text) {
  if (text.empty()) return false;
  std::size_t i = text.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
  text.erase(i);
  return true;
}

// The characters of a UTF-8 text, each as its own string (a malformed byte is a
// character of its own).
inline std::vector<std::string> splitCharacters(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + len > text.size()) len = 1;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    out.push_back(text.substr(i, len));
    i += len;
  }
  return out;
}

}  // namespace uikit_internal
