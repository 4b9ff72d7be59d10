// A blocking TCP client connection to one of the agent's servers, with deadlines
// on every wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvctl/Frame.h"

namespace qvctl {

using Clock = std::chrono::steady_clock;

inline constexpr std::uint16_t kRecorderPort = 9892;
inline constexpr std::uint16_t kPlayBackPort = 9898;
// The first frames the servers send to their first client.
inline constexpr std::string_view kRecorderGreetingPrefix = "Welcome! RecorderServer";
inline constexpr std::string_view kPlayBackGreetingPrefix = "Welcome PlayBackServer";

class Connection {
 public:
  // Connects to host:port (name or address, IPv4 or IPv6) within `timeout`.
  // Throws Error when nothing accepts the connection in time. A refused
  // connection is tried again for up to `retryRefused` (the playback server
  // listens again a second after its previous client left).
  Connection(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
             std::chrono::milliseconds retryRefused = std::chrono::milliseconds(0));
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&&) = delete;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Writes every byte before the deadline; throws Error otherwise.
  void send(std::string_view bytes, Clock::time_point deadline);
  // Sends `line` followed by CR LF.
  void sendLine(std::string_view line, Clock::time_point deadline);

  // The next frame's payload. Throws Error on time-out, when the peer closes, or
  // when the bytes are not a frame.
  std::string readFrame(Clock::time_point deadline);
  // The next frame's payload, or absent when the peer closed cleanly between
  // frames. Waits without limit when `deadline` is absent.
  std::optional<std::string> readFrameOrEnd(std::optional<Clock::time_point> deadline);

  // For callers that wait on several descriptors: the socket, one read of what is
  // available (false at end of stream; a clean end between frames is checked by
  // the frame reader), and the frames already complete.
  int fd() const { return fd_; }
  bool readAvailable();
  std::optional<std::string> nextBufferedFrame() { return reader_.next(); }
  void finishReading() const { reader_.finish(); }

  const std::string& peer() const { return peer_; }

 private:
  int fd_ = -1;
  std::string peer_;
  FrameReader reader_;
};

// Sends one playback request (plus CR LF) and returns the reply's payload; a
// greeting frame that arrives first is skipped.
std::string playRequest(Connection& connection, const std::string& requestJson, Clock::time_point deadline);

}  // namespace qvctl
