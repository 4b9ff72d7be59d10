// Byte buffers and the conversions between bytes and texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using NSData = std::vector<std::uint8_t>;

namespace foundation {

NSData dataFromString(std::string_view text);
// Decodes UTF-8; absent when the bytes are not valid UTF-8.
std::optional<std::string> stringFromUTF8Data(const NSData& data);
bool isValidUTF8(std::string_view text);
// Decodes UTF-8 as the platform's strings do when they must take any bytes: each
// ill-formed sequence (the longest start of a well-formed one, or one byte) becomes
// U+FFFD, the replacement character. Well-formed text comes back unchanged.
std::string stringFromUTF8DataLossy(std::string_view bytes);

// Standard Base64 without line breaks.
std::string base64Encode(const NSData& data);
std::string base64Encode(std::string_view bytes);
// Absent when the text is not valid Base64.
std::optional<NSData> base64Decode(std::string_view text);

// Writes the bytes to `path` atomically: into a temporary file beside it, then
// renamed over it, so a reader sees the old contents or all of the new ones.
// Returns false (and leaves no temporary file) when any step fails.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace foundation
