#include "qvctl/Connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace qvctl {

namespace {

// Milliseconds left until `deadline` for poll(); -1 waits without limit.
int pollTimeout(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits until `fd` is ready for `events`; false when the deadline passed.
bool waitFor(int fd, short events, std::optional<Clock::time_point> deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, pollTimeout(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) throw Error(std::string("poll failed: ") + std::strerror(errno));
  }
}

int connectOne(const addrinfo* ai, Clock::time_point deadline, std::string& failure) {
  int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
  if (fd < 0) {
    failure = std::strerror(errno);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
  if (rc != 0 && errno == EINPROGRESS) {
    if (!waitFor(fd, POLLOUT, deadline)) {
      failure = "timed out";
      ::close(fd);
      return -1;
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      failure = std::strerror(err);
      ::close(fd);
      return -1;
    }
  } else if (rc != 0) {
    failure = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  // Requests are small and wait for their reply: each goes out at once.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

Connection::Connection(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds retryRefused)
    : peer_(host + ":" + std::to_string(port)) {
  const auto deadline = Clock::now() + timeout;
  const auto retryUntil = std::min(deadline, Clock::now() + retryRefused);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0) {
    throw Error("cannot connect to " + peer_ + ": " + ::gai_strerror(rc));
  }
  std::string failure = "no address";
  const std::string refused = std::strerror(ECONNREFUSED);
  for (;;) {
    for (const addrinfo* ai = list; ai && fd_ < 0; ai = ai->ai_next) fd_ = connectOne(ai, deadline, failure);
    if (fd_ >= 0 || failure != refused || Clock::now() >= retryUntil) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::freeaddrinfo(list);
  if (fd_ < 0) throw Error("cannot connect to " + peer_ + ": " + failure);
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

Connection::Connection(Connection&& other) noexcept
    : fd_(other.fd_), peer_(std::move(other.peer_)), reader_(std::move(other.reader_)) {
  other.fd_ = -1;
}

void Connection::send(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(fd_, POLLOUT, deadline)) throw Error("timed out sending to " + peer_);
      continue;
    }
    throw Error("cannot send to " + peer_ + ": " + std::strerror(errno));
  }
}

void Connection::sendLine(std::string_view line, Clock::time_point deadline) {
  std::string bytes(line);
  bytes += "\r\n";
  send(bytes, deadline);
}

bool Connection::readAvailable() {
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      reader_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    if (errno == ECONNRESET) return false;
    throw Error("cannot read from " + peer_ + ": " + std::strerror(errno));
  }
}

std::optional<std::string> Connection::readFrameOrEnd(std::optional<Clock::time_point> deadline) {
  for (;;) {
    if (auto payload = reader_.next()) return payload;
    if (!waitFor(fd_, POLLIN, deadline)) throw Error("timed out waiting for a reply from " + peer_);
    if (!readAvailable()) {
      reader_.finish();
      return std::nullopt;
    }
  }
}

std::string Connection::readFrame(Clock::time_point deadline) {
  auto payload = readFrameOrEnd(deadline);
  if (!payload) throw Error("connection closed by " + peer_ + " before a reply arrived");
  return *payload;
}

std::string playRequest(Connection& connection, const std::string& requestJson, Clock::time_point deadline) {
  connection.sendLine(requestJson, deadline);
  std::string payload = connection.readFrame(deadline);
  if (payload.starts_with(kPlayBackGreetingPrefix)) payload = connection.readFrame(deadline);
  return payload;
}

}  // namespace qvctl
