#include "foundation/data.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>

namespace foundation {

NSData dataFromString(std::string_view text) { return NSData(text.begin(), text.end()); }

namespace {

// The length of the well-formed UTF-8 sequence at s[i] (the ranges of the Unicode
// standard's table of well-formed byte sequences: no overlong forms, surrogates or
// values beyond U+10FFFF), or 0 when there is none; then `prefix` is the length of
// the longest start of one (at least 1), which a lossy decoding replaces as a whole.
std::size_t sequenceAt(const unsigned char* s, std::size_t n, std::size_t i, std::size_t& prefix) {
  const unsigned char c = s[i];
  prefix = 1;
  if (c < 0x80) return 1;
  std::size_t len;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= n) return 0;
    const unsigned char b = s[i + k];
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
    prefix = k + 1;
  }
  return len;
}

}  // namespace

bool isValidUTF8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t prefix;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = sequenceAt(s, text.size(), i, prefix);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string stringFromUTF8DataLossy(std::string_view bytes) {
  if (isValidUTF8(bytes)) return std::string(bytes);
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t prefix;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t len = sequenceAt(s, bytes.size(), i, prefix);
    if (len == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      i += prefix;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::optional<std::string> stringFromUTF8Data(const NSData& data) {
  std::string text(data.begin(), data.end());
  if (!isValidUTF8(text)) return std::nullopt;
  return text;
}

std::string base64Encode(std::string_view bytes) {
  if (bytes.empty()) return {};
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

std::string base64Encode(const NSData& data) {
  return base64Encode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

namespace {

// Standard Base64: groups of four alphabet characters, where only the last group
// may end in "=" or "==". (The decoder below would take padding or white space
// anywhere and decode it as zero bits.)
bool isWellFormedBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    char c = text[i];
    bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!alphabet) return false;
  }
  return true;
}

}  // namespace

std::optional<NSData> base64Decode(std::string_view text) {
  if (text.empty()) return NSData{};
  if (!isWellFormedBase64(text)) return std::nullopt;
  NSData out(text.size() / 4 * 3);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  std::size_t padding = 0;
  if (text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  std::string temporary = path + ".tmp" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = (std::fclose(file) == 0) && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

}  // namespace foundation
