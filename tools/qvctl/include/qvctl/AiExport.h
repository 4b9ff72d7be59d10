// The replies of the AI export commands made fit for a person or a file: the
// element list without its images, and the screen snapshot as JPEG bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvctl {

// Standard Base64 (white space between characters is skipped); absent for text
// that is not Base64.
std::optional<std::string> decodeBase64(std::string_view text);

// Standard Base64 without line breaks.
std::string encodeBase64(std::string_view bytes);

// An "ai_findelements" reply with the "imageBase64" member of every entry left out;
// any other JSON reply (an exception message) unchanged. Throws Error for a reply
// that is not JSON.
std::string withoutImages(const std::string& reply);

// The JPEG bytes of an "ai_getscreensnapshot" reply ([{"output": Base64}]). Throws
// Error with the agent's exception message, or when the reply holds no Base64 JPEG.
std::string snapshotJPEG(const std::string& reply);

}  // namespace qvctl
