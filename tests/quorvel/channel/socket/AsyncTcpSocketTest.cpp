// The socket layer against real loopback clients (plain POSIX sockets).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "quorvel/channel/socket/AsyncTcpSocket.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using qvtest::waitUntil;

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }
std::string text(const NSData& data) { return std::string(data.begin(), data.end()); }

int delegateQueueKey;

// Records every callback and checks that it runs on its own delegate queue.
class RecordingDelegate : public AsyncTcpSocketDelegate {
 public:
  struct Read {
    AsyncTcpSocketPtr sock;
    std::string data;
    long tag;
  };
  struct Disconnect {
    AsyncTcpSocketPtr sock;
    NSErrorPtr err;
  };
  struct TimeoutQuestion {
    long tag;
    double elapsed;
    std::size_t bytesDone;
  };

  RecordingDelegate() : queue(dispatch_queue_create("SocketTestDelegateQueue")) {
    dispatch_queue_set_specific(queue, &delegateQueueKey, &delegateQueueKey);
  }

  // Behaviour, fixed before the socket starts listening. The hooks run on the
  // delegate queue.
  bool keepAccepted = true;
  std::function<void(const AsyncTcpSocketPtr&)> onAccept;
  std::function<void(const AsyncTcpSocketPtr&, const std::string&, long)> onRead;
  std::function<double(const TimeoutQuestion&)> readTimeoutAnswer;
  std::function<double(const TimeoutQuestion&)> writeTimeoutAnswer;

  void socketDidAcceptNewSocket(const AsyncTcpSocketPtr&, const AsyncTcpSocketPtr& newSocket) override {
    checkQueue();
    if (keepAccepted) {
      std::lock_guard lock(mutex);
      accepted.push_back(newSocket);
    }
    acceptCount++;
    if (onAccept) onAccept(newSocket);
  }
  void socketDidReadData(const AsyncTcpSocketPtr& sock, const NSData& data, long tag) override {
    checkQueue();
    {
      std::lock_guard lock(mutex);
      reads.push_back({sock, text(data), tag});
    }
    if (onRead) onRead(sock, text(data), tag);
  }
  void socketDidWriteDataWithTag(const AsyncTcpSocketPtr&, long tag) override {
    checkQueue();
    std::lock_guard lock(mutex);
    writes.push_back(tag);
  }
  bool respondsToShouldTimeoutRead() const override { return static_cast<bool>(readTimeoutAnswer); }
  double socketShouldTimeoutReadWithTag(const AsyncTcpSocketPtr&, long tag, double elapsed,
                                        std::size_t bytesDone) override {
    checkQueue();
    TimeoutQuestion q{tag, elapsed, bytesDone};
    {
      std::lock_guard lock(mutex);
      readQuestions.push_back(q);
    }
    return readTimeoutAnswer(q);
  }
  bool respondsToShouldTimeoutWrite() const override { return static_cast<bool>(writeTimeoutAnswer); }
  double socketShouldTimeoutWriteWithTag(const AsyncTcpSocketPtr&, long tag, double elapsed,
                                         std::size_t bytesDone) override {
    checkQueue();
    return writeTimeoutAnswer({tag, elapsed, bytesDone});
  }
  void socketDidDisconnect(const AsyncTcpSocketPtr& sock, const NSErrorPtr& err) override {
    checkQueue();
    if (insideSocketCall) inlineCallbacks++;
    std::lock_guard lock(mutex);
    disconnects.push_back({sock, err});
  }

  void checkQueue() {
    if (dispatch_get_specific(&delegateQueueKey) != &delegateQueueKey) offQueueCallbacks++;
  }

  // Runs `block` on the delegate queue and waits for it.
  void onQueue(const std::function<void()>& block) { dispatch_sync(queue, block); }

  template <class F>
  auto locked(F f) {
    std::lock_guard lock(mutex);
    return f();
  }
  std::size_t readCount() {
    return locked([&] { return reads.size(); });
  }
  std::size_t disconnectCount() {
    return locked([&] { return disconnects.size(); });
  }
  AsyncTcpSocketPtr acceptedAt(std::size_t i) {
    return locked([&] { return i < accepted.size() ? accepted[i] : nullptr; });
  }

  dispatch_queue_t queue;
  std::mutex mutex;
  std::vector<AsyncTcpSocketPtr> accepted;
  std::vector<Read> reads;
  std::vector<long> writes;
  std::vector<Disconnect> disconnects;
  std::vector<TimeoutQuestion> readQuestions;
  std::atomic<int> acceptCount{0};
  std::atomic<int> offQueueCallbacks{0};
  std::atomic<int> inlineCallbacks{0};
  std::atomic<bool> insideSocketCall{false};
};

// A blocking loopback client.
class Client {
 public:
  explicit Client(std::uint16_t port, int family = AF_INET, int receiveBuffer = 0) {
    fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int rc;
    if (family == AF_INET6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      a.sin6_port = htons(port);
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    connected = rc == 0;
  }
  ~Client() {
    if (fd != -1) ::close(fd);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool send(const std::string& data) const {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Up to `count` bytes, waiting at most `timeout` for them.
  std::string receive(std::size_t count, std::chrono::milliseconds timeout = 5s) const {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[65536];
      ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True once the server has closed the connection.
  bool closedByServer(std::chrono::milliseconds timeout = 5s) const {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char c;
    return ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
  }
  void shutdownWrite() const { ::shutdown(fd, SHUT_WR); }
  void resetConnection() {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
    fd = -1;
  }
  std::uint16_t localPort() const {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  }

  int fd = -1;
  bool connected = false;
};

bool canBindIPv4(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0;
  ::close(fd);
  return ok;
}

// `size` bytes of a recognisable, non-repeating-per-block pattern.
std::string pattern(std::size_t size) {
  std::string block(4096, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + (i * 7) % 26);
  std::string s;
  s.reserve(size + block.size());
  for (std::size_t n = 0; s.size() < size; ++n) {
    s += block;
    s.back() = static_cast<char>('0' + n % 10);  // tells the blocks apart
  }
  s.resize(size);
  return s;
}

class AsyncTcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { delegate = std::make_shared<RecordingDelegate>(); }

  // A listener on a system-chosen port; behaviour hooks must be set before.
  std::uint16_t listen() {
    listener = AsyncTcpSocket::initWithDelegate(delegate, delegate->queue);
    NSErrorPtr err;
    EXPECT_TRUE(listener->acceptOnPort(0, &err)) << (err ? err->description() : "");
    std::uint16_t port = listener->localPort();
    EXPECT_NE(port, 0);
    return port;
  }

  // The n-th accepted connection, once the delegate has it.
  AsyncTcpSocketPtr connection(std::size_t n = 0) {
    EXPECT_TRUE(waitUntil([&] { return delegate->acceptedAt(n) != nullptr; }));
    return delegate->acceptedAt(n);
  }

  void TearDown() override {
    listener.reset();
    EXPECT_EQ(delegate->offQueueCallbacks.load(), 0) << "a callback ran off the delegate queue";
    EXPECT_EQ(delegate->inlineCallbacks.load(), 0) << "a callback ran inside the call that caused it";
  }

  std::shared_ptr<RecordingDelegate> delegate;
  AsyncTcpSocketPtr listener;
};

TEST_F(AsyncTcpSocketTest, ListenRequestsAreRefusedInOrderWithTheirTexts) {
  auto sock = std::make_shared<AsyncTcpSocket>(std::weak_ptr<AsyncTcpSocketDelegate>(), nullptr);
  sock->setIPv4Enabled(false);
  sock->setIPv6Enabled(false);
  auto refusal = [&] {
    NSErrorPtr err;
    EXPECT_FALSE(sock->acceptOnPort(0, &err));
    if (!err) return std::string("no error");
    EXPECT_EQ(err->domain(), "AsyncTcpSocketErrorDomain");
    EXPECT_EQ(err->code(), 1);
    return err->localizedDescription();
  };
  EXPECT_EQ(refusal(), "Attempting to accept without a delegate. Set a delegate first.");
  sock->setDelegate(delegate);
  EXPECT_EQ(refusal(), "Attempting to accept without a delegate queue. Set a delegate queue first.");
  sock->setDelegateQueue(delegate->queue);
  EXPECT_EQ(refusal(), "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  sock->setIPv4Enabled(true);
  EXPECT_TRUE(sock->isDisconnected());
  ASSERT_TRUE(sock->acceptOnPort(0));
  EXPECT_EQ(sock->localHost(), "0.0.0.0");
  EXPECT_EQ(refusal(), "Attempting to accept while connected or accepting connections. Disconnect first.");
  // The refusal left the listener as it was.
  EXPECT_FALSE(sock->isDisconnected());
  Client client(sock->localPort());
  EXPECT_TRUE(client.connected);
  EXPECT_TRUE(waitUntil([&] { return delegate->acceptCount == 1; }));
}

TEST_F(AsyncTcpSocketTest, ListeningOnAPortInUseFailsInBindAndLeavesNothingOpen) {
  int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
  std::uint16_t busyPort = ntohs(a.sin_port);

  auto sock = AsyncTcpSocket::initWithDelegate(delegate, delegate->queue);
  NSErrorPtr err;
  EXPECT_FALSE(sock->acceptOnPort(busyPort, &err));
  ASSERT_TRUE(err);
  EXPECT_EQ(err->domain(), NSPOSIXErrorDomain);
  EXPECT_EQ(err->code(), EADDRINUSE);
  EXPECT_EQ(err->localizedDescription(), std::strerror(EADDRINUSE));
  EXPECT_EQ(err->localizedFailureReason(), "Error in bind() function");
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_EQ(sock->localPort(), 0);

  // The same object can listen elsewhere afterwards.
  EXPECT_TRUE(sock->acceptOnPort(0, &err));
  sock->disconnect();
  ::close(holder);
  EXPECT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
}

TEST_F(AsyncTcpSocketTest, ListensOnBothFamiliesOnTheSameSystemChosenPort) {
  std::uint16_t port = listen();
  Client v4(port, AF_INET);
  ASSERT_TRUE(v4.connected);
  auto c4 = connection(0);
  Client v6(port, AF_INET6);
  ASSERT_TRUE(v6.connected) << "nothing listens on [::]:" << port;
  auto c6 = connection(1);

  EXPECT_TRUE(c4->isConnected());
  EXPECT_EQ(c4->localPort(), port);
  EXPECT_EQ(c4->connectedHost(), "127.0.0.1");
  EXPECT_EQ(c4->connectedPort(), v4.localPort());
  EXPECT_EQ(c6->localPort(), port);
  EXPECT_EQ(c6->connectedHost(), "::1");
  EXPECT_EQ(c6->localHost(), "::1");
  EXPECT_NE(c4, c6);
  // The listener itself is not a connection.
  EXPECT_FALSE(listener->isConnected());
  EXPECT_EQ(listener->connectedHost(), std::nullopt);

  // Each connection has its own queues of requests.
  c4->writeData(bytes("four"), -1, 4);
  c6->writeData(bytes("six"), -1, 6);
  EXPECT_EQ(v4.receive(4), "four");
  EXPECT_EQ(v6.receive(3), "six");
}

TEST_F(AsyncTcpSocketTest, DisconnectClosesOnlyStartedSocketsAndReportsOnceAsynchronously) {
  auto idle = AsyncTcpSocket::initWithDelegate(delegate, delegate->queue);
  idle->disconnect();  // nothing to close, nothing to report
  idle->readDataWithTimeout(-1, 1);
  idle->writeData(bytes("dropped"), -1, 1);

  std::uint16_t port = listen();
  // Requests on a listener are held, never served.
  listener->readDataWithTimeout(-1, 7);
  listener->writeData(bytes("never"), -1, 7);
  Client client(port);
  auto conn = connection();

  // Called from the delegate queue: the report must come after the call returns.
  delegate->onQueue([&] {
    delegate->insideSocketCall = true;
    listener->disconnect();
    conn->disconnect();
    delegate->insideSocketCall = false;
  });
  EXPECT_TRUE(client.closedByServer());
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 2; }));
  delegate->locked([&] {
    EXPECT_EQ(delegate->disconnects[0].sock, listener);
    EXPECT_EQ(delegate->disconnects[0].err, nullptr);
    EXPECT_EQ(delegate->disconnects[1].sock, conn);
    EXPECT_EQ(delegate->disconnects[1].err, nullptr);
    EXPECT_TRUE(delegate->reads.empty());
    EXPECT_TRUE(delegate->writes.empty());
  });
  EXPECT_TRUE(listener->isDisconnected());
  EXPECT_TRUE(conn->isDisconnected());

  // A closed socket drops requests, and a second disconnect reports nothing.
  conn->writeData(bytes("late"), -1, 9);
  conn->disconnect();
  // A closed connection object can listen again, as the playback server does.
  NSErrorPtr err;
  ASSERT_TRUE(conn->acceptOnPort(0, &err));
  Client again(conn->localPort());
  EXPECT_TRUE(again.connected);
  EXPECT_TRUE(waitUntil([&] { return delegate->acceptCount == 2; }));
  conn->disconnect();
  EXPECT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 3; }));
  EXPECT_TRUE(delegate->locked([&] { return delegate->writes.empty(); }));
}

TEST_F(AsyncTcpSocketTest, TerminatorSplitAcrossArrivalsCompletesOneRead) {
  // The time-out question reveals how many bytes the read holds, so that the
  // second part is sent only after the first has been taken in.
  delegate->readTimeoutAnswer = [](const RecordingDelegate::TimeoutQuestion&) { return 0.02; };
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(bytes("<END>"), 0.02, 1);
  };
  Client client(listen());
  auto conn = connection();
  ASSERT_TRUE(client.send("hello<E"));
  ASSERT_TRUE(waitUntil([&] {
    return delegate->locked([&] { return !delegate->readQuestions.empty() && delegate->readQuestions.back().bytesDone == 7; });
  }));
  ASSERT_TRUE(client.send("N"));
  ASSERT_TRUE(waitUntil([&] {
    return delegate->locked([&] { return delegate->readQuestions.back().bytesDone == 8; });
  }));
  ASSERT_TRUE(client.send("D>after"));
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 1; }));
  EXPECT_EQ(delegate->locked([&] { return delegate->reads[0].data; }), "hello<END>");

  // The bytes after the terminator wait in the pre-buffer for the next request.
  conn->readDataWithTimeout(-1, 2);
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 2; }));
  EXPECT_EQ(delegate->locked([&] { return delegate->reads[1].data; }), "after");
  EXPECT_EQ(delegate->disconnectCount(), 0u);
}

TEST_F(AsyncTcpSocketTest, TwoLinesInOnePacketCompleteTwoReadsWithoutANewArrival) {
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 1);
  };
  // The second read is queued only after the first completed: nothing more will
  // arrive, so only the pre-buffer can serve it.
  delegate->onRead = [](const AsyncTcpSocketPtr& conn, const std::string&, long tag) {
    if (tag == 1) conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 2);
  };
  Client client(listen());
  ASSERT_TRUE(client.send("first line\r\nsecond\r\n"));
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 2; }));
  delegate->locked([&] {
    EXPECT_EQ(delegate->reads[0].data, "first line\r\n");
    EXPECT_EQ(delegate->reads[0].tag, 1);
    EXPECT_EQ(delegate->reads[1].data, "second\r\n");
    EXPECT_EQ(delegate->reads[1].tag, 2);
  });
}

TEST_F(AsyncTcpSocketTest, ReadAnyDeliversTheNextArrivalAndRequestsAreServedInOrder) {
  Client client(listen());
  auto conn = connection();
  conn->readDataWithTimeout(-1, 1);
  ASSERT_TRUE(client.send("abc"));
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 1; }));
  EXPECT_EQ(delegate->locked([&] { return delegate->reads[0].data; }), "abc");

  // Mixed requests queued at once are served strictly in order.
  conn->readDataToData(bytes("\n"), -1, 2);
  conn->readDataWithTimeout(-1, 3);
  conn->readDataToData(bytes("\n"), -1, 4);
  conn->readDataToData(NSData(), -1, 99);  // an empty terminator queues nothing
  ASSERT_TRUE(client.send("x\nyz"));
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 3; }));
  ASSERT_TRUE(client.send("w\n"));
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 4; }));
  delegate->locked([&] {
    EXPECT_EQ(delegate->reads[1].data, "x\n");
    EXPECT_EQ(delegate->reads[2].data, "yz");
    EXPECT_EQ(delegate->reads[2].tag, 3);
    EXPECT_EQ(delegate->reads[3].data, "w\n");
    EXPECT_EQ(delegate->reads[3].tag, 4);
  });
}

TEST_F(AsyncTcpSocketTest, WritesCompleteInOrderAndEmptyWritesNeverComplete) {
  Client client(listen());
  auto conn = connection();
  conn->writeData(NSData(), -1, 1);
  conn->writeData(bytes("0000000002"), -1, 2);
  conn->writeData(bytes("[]"), -1, 3);
  EXPECT_EQ(client.receive(12), "0000000002[]");
  ASSERT_TRUE(waitUntil([&] { return delegate->locked([&] { return delegate->writes.size() == 2; }); }));
  EXPECT_EQ(delegate->locked([&] { return delegate->writes; }), (std::vector<long>{2, 3}));
}

TEST_F(AsyncTcpSocketTest, ReadTimeoutExtendedOnceThenRefusedClosesWithCode4) {
  std::atomic<int> asked{0};
  delegate->readTimeoutAnswer = [&](const RecordingDelegate::TimeoutQuestion&) { return ++asked == 1 ? 0.1 : 0.0; };
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), 0.1, 5);
  };
  Client client(listen());
  ASSERT_TRUE(client.send("no end"));
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  EXPECT_TRUE(client.closedByServer());
  delegate->locked([&] {
    ASSERT_EQ(delegate->readQuestions.size(), 2u);
    EXPECT_EQ(delegate->readQuestions[0].tag, 5);
    EXPECT_DOUBLE_EQ(delegate->readQuestions[0].elapsed, 0.1);
    EXPECT_DOUBLE_EQ(delegate->readQuestions[1].elapsed, 0.2);
    EXPECT_EQ(delegate->readQuestions[1].bytesDone, 6u);
    ASSERT_TRUE(delegate->disconnects[0].err);
    EXPECT_EQ(delegate->disconnects[0].err->domain(), "AsyncTcpSocketErrorDomain");
    EXPECT_EQ(delegate->disconnects[0].err->code(), 4);
    EXPECT_EQ(delegate->disconnects[0].err->localizedDescription(), "Read operation timed out");
    EXPECT_TRUE(delegate->reads.empty());
  });
}

TEST_F(AsyncTcpSocketTest, TimeoutsWithoutTheDelegateQuestionCloseAtOnce) {
  // Read: a delegate that does not answer the question times the read out.
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) { conn->readDataWithTimeout(0.05, 1); };
  Client reader(listen());
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  EXPECT_EQ(delegate->locked([&] { return delegate->disconnects[0].err->code(); }), 4);

  // Write: 16 MiB to a client that never reads cannot finish in time.
  auto second = std::make_shared<RecordingDelegate>();
  second->onAccept = [](const AsyncTcpSocketPtr& conn) { conn->writeData(bytes(pattern(16 << 20)), 0.2, 1); };
  auto writerListener = AsyncTcpSocket::initWithDelegate(second, second->queue);
  ASSERT_TRUE(writerListener->acceptOnPort(0));
  Client idle(writerListener->localPort(), AF_INET, 4096);
  ASSERT_TRUE(waitUntil([&] { return second->disconnectCount() == 1; }, 30s));
  second->locked([&] {
    ASSERT_TRUE(second->disconnects[0].err);
    EXPECT_EQ(second->disconnects[0].err->domain(), "AsyncTcpSocketErrorDomain");
    EXPECT_EQ(second->disconnects[0].err->code(), 5);
    EXPECT_EQ(second->disconnects[0].err->localizedDescription(), "Write operation timed out");
    EXPECT_TRUE(second->writes.empty());
  });
  EXPECT_EQ(second->offQueueCallbacks.load(), 0);
}

TEST_F(AsyncTcpSocketTest, EndOfFileClosesWithCode7OnlyAfterPreBufferedBytesAreServed) {
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 1);
  };
  Client client(listen());
  auto conn = connection();
  ASSERT_TRUE(client.send("abc\r\ndef"));
  client.shutdownWrite();
  ASSERT_TRUE(waitUntil([&] { return delegate->readCount() == 1; }));
  // "def" is pre-buffered and the end of file has been seen; the connection must
  // stay open for it.
  EXPECT_FALSE(waitUntil([&] { return delegate->disconnectCount() > 0; }, 300ms));
  conn->readDataWithTimeout(-1, 2);
  conn->readDataWithTimeout(-1, 3);  // nothing is left for this one
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  delegate->locked([&] {
    ASSERT_EQ(delegate->reads.size(), 2u);
    EXPECT_EQ(delegate->reads[0].data, "abc\r\n");
    EXPECT_EQ(delegate->reads[1].data, "def");
    EXPECT_EQ(delegate->disconnects[0].sock, conn);
    ASSERT_TRUE(delegate->disconnects[0].err);
    EXPECT_EQ(delegate->disconnects[0].err->domain(), "AsyncTcpSocketErrorDomain");
    EXPECT_EQ(delegate->disconnects[0].err->code(), 7);
    EXPECT_EQ(delegate->disconnects[0].err->localizedDescription(), "Socket closed by remote peer");
  });
  EXPECT_TRUE(conn->isDisconnected());
}

TEST_F(AsyncTcpSocketTest, EndOfFileDiscardsAnUnfinishedTerminatorRead) {
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 1);
  };
  Client client(listen());
  ASSERT_TRUE(client.send("no terminator\r"));
  client.shutdownWrite();
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  EXPECT_EQ(delegate->readCount(), 0u);
  EXPECT_EQ(delegate->locked([&] { return delegate->disconnects[0].err->code(); }), 7);
}

TEST_F(AsyncTcpSocketTest, ReleasingSocketsClosesThemAndReportsWithoutASocket) {
  // A connection nobody keeps closes as soon as the delegate lets go of it.
  delegate->keepAccepted = false;
  std::uint16_t port = listen();
  Client client(port);
  EXPECT_TRUE(client.closedByServer());
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  delegate->locked([&] {
    EXPECT_EQ(delegate->disconnects[0].sock, nullptr);
    EXPECT_EQ(delegate->disconnects[0].err, nullptr);
  });

  // Releasing the listener frees its port.
  listener->readDataWithTimeout(-1, 1);  // a request in flight must not keep it alive
  std::weak_ptr<AsyncTcpSocket> weak = listener;
  listener.reset();
  EXPECT_TRUE(waitUntil([&] { return weak.expired(); }));
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 2; }));
  EXPECT_EQ(delegate->locked([&] { return delegate->disconnects[1].sock; }), nullptr);
  EXPECT_TRUE(waitUntil([&] { return canBindIPv4(port); }));
  Client refused(port);
  EXPECT_FALSE(refused.connected);
}

TEST_F(AsyncTcpSocketTest, ReleasingAConnectionWithPendingWorkIsSafe) {
  // Sources, timers and queued requests of a released connection must neither
  // keep it alive nor touch it afterwards.
  delegate->keepAccepted = false;
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), 0.01, 1);
    conn->writeData(bytes(pattern(1 << 20)), 0.01, 2);
  };
  std::uint16_t port = listen();
  for (int i = 0; i < 10; ++i) {
    Client client(port, AF_INET, 4096);
    ASSERT_TRUE(client.send("partial"));
    EXPECT_TRUE(waitUntil([&] { return delegate->disconnectCount() == static_cast<std::size_t>(i + 1); }, 30s));
  }
  EXPECT_EQ(delegate->readCount(), 0u);
}

TEST_F(AsyncTcpSocketTest, SixteenMiBWriteToASlowReaderCompletesExactlyOnce) {
  const std::string payload = pattern(16 << 20);
  Client client(listen(), AF_INET, 4096);
  auto conn = connection();
  conn->writeData(bytes(payload), -1, 1);
  std::string received;
  while (received.size() < payload.size()) {
    std::string chunk = client.receive(std::min<std::size_t>(1500, payload.size() - received.size()));
    if (chunk.empty()) break;
    received += chunk;
  }
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload) << "the bytes arrived altered";
  // A later write's completion follows every completion of the first.
  conn->writeData(bytes("end"), -1, 2);
  EXPECT_EQ(client.receive(3), "end");
  ASSERT_TRUE(waitUntil([&] { return delegate->locked([&] { return delegate->writes.size() >= 2; }); }));
  EXPECT_EQ(delegate->locked([&] { return delegate->writes; }), (std::vector<long>{1, 2}));
}

// The server-side descriptor of the connection whose peer uses `peerPort`.
int serverDescriptorFor(std::uint16_t peerPort, std::uint16_t localPort) {
  for (int fd = 3; fd < 4096; ++fd) {
    sockaddr_in local{}, peer{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET) continue;
    len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;
    if (ntohs(peer.sin_port) == peerPort && ntohs(local.sin_port) == localPort) return fd;
  }
  return -1;
}

TEST_F(AsyncTcpSocketTest, WritingToAResetPeerFailsWithoutSIGPIPE) {
  static std::atomic<int> sigpipes{0};
  struct sigaction action{}, previous{};
  action.sa_handler = [](int) { sigpipes++; };
  ::sigaction(SIGPIPE, &action, &previous);

  std::uint16_t port = listen();
  Client client(port);
  auto conn = connection();
  int serverFD = serverDescriptorFor(client.localPort(), port);
  ASSERT_NE(serverFD, -1);
  // A byte that no request takes keeps the connection from looking at the reset
  // when reading; the test takes note of the reset itself, after which writing
  // fails with EPIPE, which raises SIGPIPE unless the write asks not to.
  ASSERT_TRUE(client.send("x"));
  client.resetConnection();
  ASSERT_TRUE(waitUntil([&] {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(serverFD, SOL_SOCKET, SO_ERROR, &err, &len);
    return err == ECONNRESET;
  }));
  conn->writeData(bytes("to nobody"), -1, 1);
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }));
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ(sigpipes.load(), 0);
  delegate->locked([&] {
    const NSErrorPtr& err = delegate->disconnects[0].err;
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), NSPOSIXErrorDomain) << err->description();
    EXPECT_EQ(err->code(), EPIPE) << err->description();
    EXPECT_EQ(err->localizedFailureReason(), "Error in write() function");
    EXPECT_TRUE(delegate->writes.empty());
  });
}

TEST_F(AsyncTcpSocketTest, TerminatorReadWithoutTerminatorIsBoundedAt64MiB) {
  std::mutex logMutex;
  std::vector<std::string> logs;
  int token = foundation::addLogObserver([&](const std::string& m) {
    std::lock_guard lock(logMutex);
    logs.push_back(m);
  });
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 1);
  };
  Client client(listen());
  std::thread sender([&] {
    const std::string chunk(1 << 20, 'x');
    for (std::size_t sent = 0; sent <= AsyncTcpSocket::kMaxTerminatorReadLength; sent += chunk.size()) {
      if (!client.send(chunk)) return;  // the server gave up on us
    }
  });
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == 1; }, 120s));
  sender.join();
  foundation::removeLogObserver(token);
  delegate->locked([&] {
    const NSErrorPtr& err = delegate->disconnects[0].err;
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), "AsyncTcpSocketErrorDomain");
    EXPECT_EQ(err->code(), AsyncTcpSocketReadMaxedOutError);
    EXPECT_TRUE(delegate->reads.empty());
  });
  std::lock_guard lock(logMutex);
  bool logged = false;
  for (const auto& m : logs) logged |= m.find("no terminator within 67108864 bytes") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(AsyncTcpSocketTest, ManyClientsEchoConcurrently) {
  // Every line read is written back and the next line requested, from the
  // delegate queue, while clients talk at once on their own threads.
  delegate->onAccept = [](const AsyncTcpSocketPtr& conn) {
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 0);
  };
  delegate->onRead = [](const AsyncTcpSocketPtr& conn, const std::string& line, long) {
    conn->writeData(bytes(line), -1, 12);
    conn->readDataToData(AsyncTcpSocket::CRLFData(), -1, 0);
  };
  std::uint16_t port = listen();
  constexpr int kClients = 8;
  constexpr int kLines = 40;
  std::atomic<int> echoed{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      Client client(port, c % 2 ? AF_INET6 : AF_INET);
      for (int i = 0; i < kLines; ++i) {
        std::string line = "client " + std::to_string(c) + " line " + std::to_string(i) + "\r\n";
        if (!client.send(line)) return;
        if (client.receive(line.size()) == line) echoed++;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(echoed.load(), kClients * kLines);
  ASSERT_TRUE(waitUntil([&] { return delegate->disconnectCount() == kClients; }));
  delegate->locked([&] {
    for (const auto& d : delegate->disconnects) EXPECT_EQ(d.err->code(), 7);
  });
}

}  // namespace
