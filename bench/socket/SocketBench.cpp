// Loopback figures of the socket layer: the round-trip time of a CR-LF-terminated
// request answered with a framed reply (ten ASCII digits of the payload length,
// then the payload), and the throughput of framed writes of 1 KiB and 1 MiB
// messages. Prints figures only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Stats.h"
#include "foundation/format.h"
#include "quorvel/channel/socket/AsyncTcpSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

NSData framed(const std::string& payload) {
  std::string text = NSStringWithFormat("%010lu", static_cast<unsigned long>(payload.size())) + payload;
  return NSData(text.begin(), text.end());
}

// Answers each line with a framed copy of it, and "SEND <size> <count>" with a
// stream of framed messages, each written once the previous one has completed
// (as the servers write one message at a time).
class BenchServer : public AsyncTcpSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const AsyncTcpSocketPtr&, const AsyncTcpSocketPtr& newSocket) override {
    connection = newSocket;
    newSocket->readDataToData(AsyncTcpSocket::CRLFData(), -1, 0);
  }
  void socketDidReadData(const AsyncTcpSocketPtr& sock, const NSData& data, long) override {
    std::string line(data.begin(), data.end());
    unsigned long size = 0;
    unsigned long count = 0;
    if (std::sscanf(line.c_str(), "SEND %lu %lu", &size, &count) == 2) {
      streamFrame = framed(std::string(size, 'q'));
      streamLeft = count;
      writeNextStreamFrame(sock);
      return;
    }
    sock->writeData(framed(line), -1, 12);
  }
  void socketDidWriteDataWithTag(const AsyncTcpSocketPtr& sock, long tag) override {
    if (tag == 13) {
      writeNextStreamFrame(sock);
    } else {
      sock->readDataToData(AsyncTcpSocket::CRLFData(), -1, 0);
    }
  }

  AsyncTcpSocketPtr connection;

 private:
  void writeNextStreamFrame(const AsyncTcpSocketPtr& sock) {
    if (streamLeft == 0) {
      sock->readDataToData(AsyncTcpSocket::CRLFData(), -1, 0);
      return;
    }
    --streamLeft;
    sock->writeData(streamFrame, -1, 13);
  }

  NSData streamFrame;
  unsigned long streamLeft = 0;
};

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  return fd;
}

void sendAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) std::exit(1);
    done += static_cast<std::size_t>(n);
  }
}

void receiveExactly(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd, out + done, size - done, 0);
    if (n <= 0) {
      std::fprintf(stderr, "connection closed\n");
      std::exit(1);
    }
    done += static_cast<std::size_t>(n);
  }
}

// Reads one framed message and returns its payload length.
std::size_t receiveFrame(int fd, std::vector<char>& buffer) {
  char digits[11] = {};
  receiveExactly(fd, digits, 10);
  std::size_t length = std::strtoul(digits, nullptr, 10);
  if (buffer.size() < length) buffer.resize(length);
  receiveExactly(fd, buffer.data(), length);
  return length;
}

}  // namespace

int main() {
  auto server = std::make_shared<BenchServer>();
  auto delegateQueue = dispatch_queue_create("BenchSocketQueue");
  auto listener = AsyncTcpSocket::initWithDelegate(server, delegateQueue);
  NSErrorPtr error;
  if (!listener->acceptOnPort(0, &error)) {
    std::fprintf(stderr, "listen failed: %s\n", error ? error->description().c_str() : "");
    return 1;
  }
  int fd = connectTo(listener->localPort());
  std::vector<char> buffer;

  // Round trip.
  const std::string request = "{\"functionname\":\"ping\",\"datavalue\":\"0123456789\"}\r\n";
  constexpr int kWarmup = 200;
  constexpr int kRounds = 5000;
  std::vector<double> micros;
  micros.reserve(kRounds);
  for (int i = 0; i < kWarmup + kRounds; ++i) {
    auto start = Clock::now();
    sendAll(fd, request);
    receiveFrame(fd, buffer);
    double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (i >= kWarmup) micros.push_back(us);
  }
  const bench::Stats figures = bench::stats(micros);
  std::printf("loopback round trip (%zu-byte CR-LF line in, framed reply out), %d requests: median %.1f us, p99 %.1f us\n",
              request.size(), kRounds, figures.median, figures.p99);

  // Framed-write throughput.
  struct Case {
    const char* name;
    std::size_t size;
    std::size_t count;
  };
  for (const Case& c : {Case{"1 KiB", 1024, 65536}, Case{"1 MiB", 1 << 20, 256}}) {
    auto start = Clock::now();
    sendAll(fd, NSStringWithFormat("SEND %lu %lu\r\n", static_cast<unsigned long>(c.size),
                                   static_cast<unsigned long>(c.count)));
    std::size_t payload = 0;
    for (std::size_t i = 0; i < c.count; ++i) payload += receiveFrame(fd, buffer);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double mib = static_cast<double>(payload) / (1 << 20);
    std::printf("framed-write throughput, %s messages: %zu messages, %.1f MiB payload in %.3f s = %.1f MiB/s\n",
                c.name, c.count, mib, seconds, mib / seconds);
  }

  ::close(fd);
  listener.reset();
  return 0;
}
