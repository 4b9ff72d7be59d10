// Plain loopback TCP clients for tests that need to see the raw connection: the
// bytes, a refusal, or a reset.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace qvtest {

// A connected descriptor, or -1 with errno telling why.
inline int connectLoopback(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// A second client while the first is connected: refused, or, when it reached the
// listener's backlog just before the listener closed, reset without a byte.
inline bool turnedAway(std::uint16_t port) {
  int fd = connectLoopback(port);
  if (fd < 0) return errno == ECONNREFUSED;
  pollfd p{fd, POLLIN, 0};
  char byte;
  bool away = ::poll(&p, 1, 5000) > 0 && ::recv(fd, &byte, 1, 0) <= 0;
  ::close(fd);
  return away;
}

}  // namespace qvtest
