// The floor of the control channel: the round trip of a playback request that the
// interpreter answers with nothing ("[]"), from the qvctl client library to the
// sample application with the agent loaded and back, over one connection. The same
// run measures a plain loopback echo server (one thread, blocking reads) that
// answers each request line with the same framed reply, through the same client
// code, and prints the ratio of the two medians: what the agent's queues and
// threads cost over the bare sockets. Prints the median, the 99th percentile and
// the mean. Figures only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Goals.h"
#include "Stats.h"
#include "app_process.h"
#include "qvctl/Connection.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median = 0, p99 = 0, mean = 0, max = 0;
};

Figures measure(int requests, const std::function<void()>& roundTrip) {
  for (int i = 0; i < 100; ++i) roundTrip();
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(requests));
  for (int i = 0; i < requests; ++i) {
    const auto start = Clock::now();
    roundTrip();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  double sum = 0;
  for (double m : micros) sum += m;
  const bench::Stats figures = bench::stats(micros);
  return {figures.median, figures.p99, sum / static_cast<double>(micros.size()),
          *std::max_element(micros.begin(), micros.end())};
}

void print(const char* what, int requests, const Figures& f) {
  std::printf("%s, %d requests on one connection:\n", what, requests);
  std::printf("  median %.1f us   p99 %.1f us   mean %.1f us   max %.1f us\n", f.median, f.p99, f.mean, f.max);
}

// A loopback server on a free port that answers every CR-LF-ended line with the
// framed empty list, as the agent answers an unknown command. Serves one client.
class EchoServer {
 public:
  EchoServer() {
    listenFD_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFD_ < 0 || ::bind(listenFD_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFD_, 1) != 0 || ::getsockname(listenFD_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~EchoServer() {
    ::shutdown(listenFD_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listenFD_);
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    static constexpr char kReply[] = "0000000002[]";
    std::string pending;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = pending.find("\r\n")) != std::string::npos) {
        pending.erase(0, end + 2);
        if (::send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL) < 0) break;
      }
    }
    ::close(fd);
  }

  int listenFD_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);

  qvtest::AppProcess app;
  if (!app.ready()) {
    std::fprintf(stderr, "channel_bench: the application did not start\n");
    return 1;
  }
  const std::string request = R"({"functionname":"nosuchcommand"})";
  try {
    qvctl::Connection agent("127.0.0.1", qvctl::kPlayBackPort, std::chrono::seconds(10));
    bool unexpected = false;
    Figures playback = measure(requests, [&] {
      if (qvctl::playRequest(agent, request, Clock::now() + std::chrono::seconds(10)) != "[]") unexpected = true;
    });
    if (unexpected) {
      std::fprintf(stderr, "channel_bench: the agent answered something other than []\n");
      return 1;
    }

    EchoServer echo;
    if (echo.port() == 0) {
      std::fprintf(stderr, "channel_bench: the echo server could not listen\n");
      return 1;
    }
    qvctl::Connection plain("127.0.0.1", echo.port(), std::chrono::seconds(10));
    Figures loopback = measure(requests, [&] {
      if (qvctl::playRequest(plain, request, Clock::now() + std::chrono::seconds(10)) != "[]") unexpected = true;
    });
    if (unexpected) {
      std::fprintf(stderr, "channel_bench: the echo server answered something other than []\n");
      return 1;
    }

    print("playback round trip, unknown command", requests, playback);
    print("plain loopback echo round trip, same client", requests, loopback);
    std::printf("  ratio of medians (playback / echo): %.2f\n", playback.median / loopback.median);
    bench::Goals goals;
    goals.atMost("playback round trip / raw loopback echo, same run (medians)", playback.median / loopback.median, 2,
                 "x");
    goals.print();
  } catch (const qvctl::Error& e) {
    std::fprintf(stderr, "channel_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
