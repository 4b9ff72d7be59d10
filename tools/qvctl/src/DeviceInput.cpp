#include "qvctl/DeviceInput.h"

#include <poll.h>
#include <sys/socket.h>

namespace qvctl {

DeviceInput::DeviceInput(std::string host, std::uint16_t port, std::chrono::milliseconds timeout)
    : host_(std::move(host)), port_(port), timeout_(timeout) {}

void DeviceInput::ensureConnected() {
  if (!connection_) {
    connection_.emplace(host_, port_, timeout_);
    buffer_.clear();
  }
}

std::string DeviceInput::readLine(Clock::time_point deadline) {
  for (;;) {
    if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw Error("the device input at " + connection_->peer() + " did not answer in time");
    pollfd p{connection_->fd(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    ssize_t n = ::recv(connection_->fd(), chunk, sizeof chunk, 0);
    if (n <= 0) throw Error("the device input at " + connection_->peer() + " closed the connection");
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::vector<std::string> DeviceInput::askLines(const std::string& line, const std::string& last) {
  ensureConnected();
  try {
    const auto deadline = Clock::now() + timeout_;
    connection_->send(line + "\n", deadline);
    std::vector<std::string> lines;
    do {
      lines.push_back(readLine(deadline));
    } while (lines.back() != last && !lines.back().starts_with("error:"));
    return lines;
  } catch (const Error&) {
    connection_.reset();  // a later command connects again
    throw;
  }
}

std::string DeviceInput::ask(const std::string& line) {
  ensureConnected();
  try {
    const auto deadline = Clock::now() + timeout_;
    connection_->send(line + "\n", deadline);
    return readLine(deadline);
  } catch (const Error&) {
    connection_.reset();
    throw;
  }
}

std::string DeviceInput::typeCommand(const std::string& text) {
  std::string line = "type ";
  for (char c : text) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n' || c == '\r') {
      line += "\\n";
    } else if (c == '\b') {
      line += "\\b";
    } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
      line += c;
    }
  }
  return line;
}

}  // namespace qvctl
