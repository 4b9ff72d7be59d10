// Lower-casing as the agent compares class names, command words and texts
// case-insensitively (ASCII letters; other bytes unchanged).
#pragma once

#include <algorithm>
#include <string>

inline std::string lowercaseString(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}
