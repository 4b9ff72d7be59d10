// The agent's outgoing framing: ten ASCII decimal digits giving the payload length
// in bytes, then the payload. FrameReader takes bytes as they arrive and hands out
// whole payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qvctl {

// A failure the command line reports as one line: no connection, a time-out, a
// malformed or truncated reply.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kFrameHeaderLength = 10;

// "%010lu" of the payload's length, then the payload.
std::string frame(std::string_view payload);

class FrameReader {
 public:
  // Payloads longer than this are refused (a header of ten digits could announce
  // almost 10 GB).
  static constexpr std::uint64_t kDefaultMaxPayload = std::uint64_t{1} << 30;

  explicit FrameReader(std::uint64_t maxPayload = kDefaultMaxPayload) : maxPayload_(maxPayload) {}

  void feed(std::string_view bytes) { buffer_.append(bytes); }
  // The next whole payload, or absent while more bytes are needed. Throws Error
  // when the header is not ten ASCII digits or announces too large a payload.
  std::optional<std::string> next();
  // Bytes received but not yet handed out (part of a frame).
  std::size_t pending() const { return buffer_.size(); }
  // Call when the peer closed: throws Error if a frame was left incomplete.
  void finish() const;

 private:
  std::uint64_t maxPayload_;
  std::string buffer_;
};

}  // namespace qvctl
