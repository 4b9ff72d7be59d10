// The guarded server: connections are read through a stream of our own, which
// bounds the request head in size and time and every other wait, sends each
// answer in one piece once it is complete, and which is closed without reading on
// when a request is refused. The guard's verdict on a
// request is taken as soon as its head is read, and answered by the pre-routing
// (or 100-continue) handler before any body is read.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "WorkerPool.h"
#include "httpguard/HttpGuard.h"

namespace httpguard {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr int kMaxRequestsPerConnection = 1000;
constexpr int kBacklog = 512;
// Waits are taken in slices so that a stopping server ends its workers soon.
constexpr auto kSlice = std::chrono::milliseconds(100);
// After a refusal the client gets this long (and this many bytes of what it still
// sends) to see the answer before the connection closes.
constexpr auto kLinger = std::chrono::milliseconds(500);
constexpr std::size_t kLingerBytes = 4 * 1024 * 1024;
// Written bytes are sent once the answer is complete, or once this many wait.
constexpr std::size_t kGather = 64 * 1024;

const httplib::Headers kSecurityHeaders = {{"Content-Security-Policy", "frame-ancestors 'none'"},
                                           {"X-Frame-Options", "DENY"},
                                           {"X-Content-Type-Options", "nosniff"}};

// The request being served on this thread, and the guard's verdict on it.
struct Exchange {
  const httplib::Request* request = nullptr;
  std::optional<Refusal> refusal;
};
thread_local Exchange* current = nullptr;

struct CurrentExchange {
  explicit CurrentExchange(Exchange& exchange) { current = &exchange; }
  ~CurrentExchange() { current = nullptr; }
};

const Refusal* refusalOf(const httplib::Request& request) {
  return current && current->request == &request && current->refusal ? &*current->refusal : nullptr;
}

using AddressOf = int (*)(int, sockaddr*, socklen_t*);

void numericAddress(int fd, AddressOf which, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
  if (which(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return;
  }
  ip = host;
  port = std::atoi(service);
}

// One client connection as the stream httplib reads requests from and writes
// answers to.
class Connection final : public httplib::Stream {
 public:
  Connection(int fd, std::chrono::milliseconds timeout, const std::atomic<socket_t>& listener)
      : fd_(fd), timeout_(timeout), listener_(listener) {}

  bool is_readable() const override { return begin_ < end_ || wait(POLLIN, Clock::now() + timeout_); }
  // The answer's writes are gathered and sent together (see flush()): a wait for a
  // writable socket belongs to the sending.
  bool is_writable() const override { return listener_ != INVALID_SOCKET; }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (!flush()) return -1;
      // What is there already is taken without waiting first; the request's head
      // usually comes in one piece, right after the wait for it.
      ssize_t n = receive();
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!wait(POLLIN, inHead_ ? headDeadline_ : Clock::now() + timeout_)) return -1;
        n = receive();
      }
      if (n <= 0) return n < 0 ? -1 : 0;
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, end_ - begin_);
    if (inHead_) {
      if (headBytes_ + n > kMaxHead) return -1;
      headBytes_ += n;
    }
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    out_.append(ptr, size);
    if (out_.size() >= kGather && !flush()) return -1;
    return static_cast<ssize_t>(size);
  }

  // Sends what was written since the last flush. An answer's head and body thus
  // leave in one segment, which the client reads at once, instead of two.
  bool flush() {
    std::size_t sent = 0;
    while (sent < out_.size()) {
      ssize_t n = ::send(fd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait(POLLOUT, Clock::now() + timeout_)) continue;
        out_.clear();
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    out_.clear();
    return true;
  }

  // Asked for every request; a connection's two ends never change.
  void get_remote_ip_and_port(std::string& ip, int& port) const override { remote_.of(fd_, ::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { local_.of(fd_, ::getsockname, ip, port); }
  socket_t socket() const override { return fd_; }

  // Waits for the next request's first bytes; false when none come within the
  // timeout, the client left, or the server stops. The head must then be complete
  // within the timeout.
  bool awaitRequest() {
    if (begin_ == end_ && !wait(POLLIN, Clock::now() + timeout_)) return false;
    inHead_ = true;
    headBytes_ = 0;
    headDeadline_ = Clock::now() + timeout_;
    return true;
  }
  void headRead() { inHead_ = false; }

  // Closes the connection; after a refusal, the client first gets a moment to read
  // the answer while what it still sends is read and dropped.
  void close(bool linger) {
    flush();
    if (linger) {
      ::shutdown(fd_, SHUT_WR);
      const auto deadline = Clock::now() + kLinger;
      char sink[16384];
      std::size_t dropped = 0;
      while (dropped < kLingerBytes && wait(POLLIN, deadline)) {
        ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
        if (n <= 0 && !(n < 0 && errno == EINTR)) break;
        dropped += n > 0 ? static_cast<std::size_t>(n) : 0;
      }
    }
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
  }

 private:
  // True once `events` (or a hang-up or error) are ready; false at the deadline or
  // when the server stops.
  bool wait(short events, Clock::time_point deadline) const {
    for (;;) {
      if (listener_ == INVALID_SOCKET) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, events, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, kSlice).count()));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
    }
  }

  ssize_t receive() {
    ssize_t n;
    do {
      n = ::recv(fd_, buffer_, sizeof buffer_, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  // One end's numeric address, read once.
  struct End {
    bool known = false;
    std::string ip;
    int port = 0;
    void of(int fd, AddressOf which, std::string& ipOut, int& portOut) {
      if (!known) {
        numericAddress(fd, which, ip, port);
        known = true;
      }
      ipOut = ip;
      portOut = port;
    }
  };

  int fd_;
  mutable End remote_, local_;
  std::chrono::milliseconds timeout_;
  const std::atomic<socket_t>& listener_;
  char buffer_[16384];
  std::string out_;
  std::size_t begin_ = 0, end_ = 0;
  bool inHead_ = false;
  std::size_t headBytes_ = 0;
  Clock::time_point headDeadline_{};
};

}  // namespace

Server::Server(httpguard::Options options) : options_(std::move(options)) {
  new_task_queue = [this] {
    // Asked for as the server starts to listen: the listening socket's backlog is
    // widened first (the library's own is a handful, too few for a burst of
    // connections while the machine is busy).
    ::listen(svr_sock_, kBacklog);
    return new WorkerPool(options_.maxWorkers);
  };
  httplib::Server::set_default_headers(kSecurityHeaders);
  httplib::Server::set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (const Refusal* refusal = refusalOf(request)) {
      answer(request, response, *refusal);
      return HandlerResponse::Handled;
    }
    return next_ ? next_(request, response) : HandlerResponse::Unhandled;
  });
  httplib::Server::set_expect_100_continue_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (const Refusal* refusal = refusalOf(request)) {
          answer(request, response, *refusal);
          // Answered before the body, where the library does not give the length.
          response.set_header("Content-Length", std::to_string(response.body.size()));
          return response.status;
        }
        return nextExpect_ ? nextExpect_(request, response) : 100;
      });
  std::size_t largest = options_.maxBody;
  for (const auto& [path, limit] : options_.maxBodyByPath) largest = std::max(largest, limit);
  set_payload_max_length(largest);
}

Server::~Server() { stop(); }

int Server::bindTo(const std::string& host, int port) {
  {
    std::lock_guard lock(hostsMutex_);
    listenHost_ = host;
    hosts_.clear();
    hostsKnown_ = false;
  }
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  return bound > 0 ? bound : -1;
}

std::vector<std::string> Server::acceptedHosts() { return hosts(); }

std::vector<std::string> Server::hosts() {
  std::lock_guard lock(hostsMutex_);
  if (hostsKnown_) return hosts_;
  ListenAddress listen{listenHost_, 0};
  std::string numeric;
  numericAddress(svr_sock_, ::getsockname, numeric, listen.port);
  if (listen.port <= 0) return {};  // not bound yet
  if (listen.host.empty()) listen.host = numeric;
  hosts_ = httpguard::acceptedHosts(listen, options_.allowedHosts);
  hostsKnown_ = true;
  return hosts_;
}

Server& Server::set_pre_routing_handler(HandlerWithResponse handler) {
  next_ = std::move(handler);
  return *this;
}

Server& Server::set_default_headers(httplib::Headers headers) {
  headers.insert(kSecurityHeaders.begin(), kSecurityHeaders.end());
  httplib::Server::set_default_headers(std::move(headers));
  return *this;
}

Server& Server::set_expect_100_continue_handler(Expect100ContinueHandler handler) {
  nextExpect_ = std::move(handler);
  return *this;
}

void Server::answer(const httplib::Request& request, httplib::Response& response, const Refusal& refusal) const {
  response.status = refusal.status;
  if (options_.refuse) {
    options_.refuse(request, response, refusal);
  } else {
    response.set_content(refusal.message + "\n", "text/plain; charset=utf-8");
  }
}

bool Server::process_and_close_socket(socket_t sock) {
  const std::vector<std::string> accepted = hosts();
  Connection connection(sock, options_.readTimeout, svr_sock_);
  bool ok = true;
  bool refused = false;
  for (int served = 0; served < kMaxRequestsPerConnection && !refused; ++served) {
    if (!connection.awaitRequest()) break;
    Exchange exchange;
    CurrentExchange scope(exchange);
    bool closed = false;
    ok = process_request(connection, served + 1 == kMaxRequestsPerConnection, closed,
                         [&](httplib::Request& request) {
                           connection.headRead();
                           exchange.request = &request;
                           exchange.refusal = check(request, accepted, options_);
                           if (exchange.refusal) {  // answered with "Connection: close" alone
                             request.headers.erase("Connection");
                             request.set_header("Connection", "close");
                           }
                         });
    ok = connection.flush() && ok;
    refused = exchange.refusal.has_value();
    // A head that never came whole (too slow, too large) ends the connection.
    if (!ok || closed || !exchange.request) break;
  }
  connection.close(refused);
  return ok;
}

}  // namespace httpguard
