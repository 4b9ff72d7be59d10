#include "qvctl/Frame.h"

#include <cstdio>

namespace qvctl {

std::string frame(std::string_view payload) {
  char header[32];
  std::snprintf(header, sizeof header, "%010zu", payload.size());
  std::string framed(header);
  framed.append(payload);
  return framed;
}

namespace {

std::string printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> FrameReader::next() {
  if (buffer_.size() < kFrameHeaderLength) {
    // Fail as soon as a non-digit shows up rather than waiting for ten bytes.
    for (char c : buffer_) {
      if (c < '0' || c > '9') {
        throw Error("malformed reply: frame header \"" + printable(buffer_) + "\" is not ten digits");
      }
    }
    return std::nullopt;
  }
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < kFrameHeaderLength; ++i) {
    const char c = buffer_[i];
    if (c < '0' || c > '9') {
      throw Error("malformed reply: frame header \"" + printable(std::string_view(buffer_).substr(0, kFrameHeaderLength)) +
                  "\" is not ten digits");
    }
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (length > maxPayload_) {
    throw Error("malformed reply: frame of " + std::to_string(length) + " bytes exceeds the limit of " +
                std::to_string(maxPayload_));
  }
  if (buffer_.size() - kFrameHeaderLength < length) return std::nullopt;
  std::string payload = buffer_.substr(kFrameHeaderLength, static_cast<std::size_t>(length));
  buffer_.erase(0, kFrameHeaderLength + static_cast<std::size_t>(length));
  return payload;
}

void FrameReader::finish() const {
  if (!buffer_.empty()) {
    throw Error("truncated reply: the connection closed inside a frame (" + std::to_string(buffer_.size()) +
                " bytes pending)");
  }
}

}  // namespace qvctl
