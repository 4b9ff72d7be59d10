// A client of the device input: the phone's touch screen and keyboard, one command
// per line, each answered by one line ("ok ..." or "error: ..."). Stands for the
// person's hands and the screen they look at.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvctl/Connection.h"

namespace qvctl {

inline constexpr std::uint16_t kDeviceInputPort = 9900;

class DeviceInput {
 public:
  DeviceInput(std::string host, std::uint16_t port, std::chrono::milliseconds timeout);

  // Sends one command line and returns its answer line. Throws Error when the
  // device input cannot be reached or does not answer in time; an "error: ..."
  // answer is returned like any other.
  std::string ask(const std::string& line);
  // Sends `line` and reads lines up to and including `last` (for "tree").
  std::vector<std::string> askLines(const std::string& line, const std::string& last);

  // "type" with the text escaped as the device input reads it ("\n" the return key,
  // "\b" delete).
  static std::string typeCommand(const std::string& text);

 private:
  std::string readLine(Clock::time_point deadline);
  void ensureConnected();

  std::string host_;
  std::uint16_t port_;
  std::chrono::milliseconds timeout_;
  std::optional<Connection> connection_;
  std::string buffer_;
};

}  // namespace qvctl
