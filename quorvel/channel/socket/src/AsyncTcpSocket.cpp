#include "quorvel/channel/socket/AsyncTcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/log.h"

namespace {

// State bits of `flags`.
enum : std::uint32_t {
  kSocketStarted = 1u << 0,          // listening or connected
  kConnected = 1u << 1,              // an accepted connection
  kReadsPaused = 1u << 2,            // a read time-out question is out
  kWritesPaused = 1u << 3,           // a write time-out question is out
  kSocketCanAcceptBytes = 1u << 4,   // the last write did not fill the send buffer
  kReadSourceSuspended = 1u << 5,
  kWriteSourceSuspended = 1u << 6,
  kSocketHasReadEOF = 1u << 7,
  kDealloc = 1u << 8,                // closing because the object is being released
};

// Bits of `config`.
enum : std::uint8_t {
  kIPv4Disabled = 1u << 0,
  kIPv6Disabled = 1u << 1,
};

constexpr std::size_t kPreBufferInitialSize = 4096;
constexpr int kListenBacklog = 1024;

// Marks the work queues (any non-null context does).
int socketQueueMarker;

NSErrorPtr socketError(long code, const char* text) {
  return std::make_shared<NSError>(AsyncTcpSocketErrorDomain, code, text);
}

NSErrorPtr readMaxedOutError() {
  return socketError(AsyncTcpSocketReadMaxedOutError, "Read operation exceeded the maximum length");
}
NSErrorPtr readTimeoutError() { return socketError(AsyncTcpSocketReadTimeoutError, "Read operation timed out"); }
NSErrorPtr writeTimeoutError() { return socketError(AsyncTcpSocketWriteTimeoutError, "Write operation timed out"); }
NSErrorPtr connectionClosedError() { return socketError(AsyncTcpSocketClosedError, "Socket closed by remote peer"); }

bool wouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

dispatch_time_t secondsFromNow(double seconds) {
  return dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(seconds * static_cast<double>(NSEC_PER_SEC)));
}

bool setNonBlocking(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  return fl != -1 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) != -1;
}

// The local (or, with `peer`, the remote) address of a descriptor.
bool addressOf(int fd, bool peer, sockaddr_storage& address) {
  socklen_t length = sizeof address;
  std::memset(&address, 0, sizeof address);
  auto* sa = reinterpret_cast<sockaddr*>(&address);
  return (peer ? ::getpeername(fd, sa, &length) : ::getsockname(fd, sa, &length)) == 0;
}

std::optional<std::string> hostOf(int fd, bool peer) {
  sockaddr_storage address;
  if (fd == -1 || !addressOf(fd, peer, address)) return std::nullopt;
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = nullptr;
  if (address.ss_family == AF_INET) {
    raw = &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
  } else if (address.ss_family == AF_INET6) {
    raw = &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
  } else {
    return std::nullopt;
  }
  if (!::inet_ntop(address.ss_family, raw, text, sizeof text)) return std::nullopt;
  return std::string(text);
}

std::uint16_t portOf(int fd, bool peer) {
  sockaddr_storage address;
  if (fd == -1 || !addressOf(fd, peer, address)) return 0;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

}  // namespace

AsyncTcpSocket::AsyncTcpSocket(std::weak_ptr<AsyncTcpSocketDelegate> delegate, dispatch_queue_t delegateQueue,
                               dispatch_queue_t socketQueue)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue(socketQueue ? std::move(socketQueue) : dispatch_queue_create("AsyncTcpSocket", DISPATCH_QUEUE_SERIAL)),
      preBuffer(kPreBufferInitialSize),
      IsOnSocketQueueOrTargetQueueKey(&IsOnSocketQueueOrTargetQueueKey) {
  dispatch_queue_set_specific(this->socketQueue, IsOnSocketQueueOrTargetQueueKey, &socketQueueMarker);
}

AsyncTcpSocketPtr AsyncTcpSocket::initWithDelegate(std::weak_ptr<AsyncTcpSocketDelegate> delegate,
                                                   dispatch_queue_t delegateQueue, dispatch_queue_t socketQueue) {
  return std::make_shared<AsyncTcpSocket>(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
}

AsyncTcpSocket::~AsyncTcpSocket() {
  // Nothing queued can reach this object any more: handlers and queued blocks hold
  // it weakly, so they now find it gone.
  performSync([this] {
    flags |= kDealloc;
    closeWithError(nullptr);
  });
  dispatch_queue_set_specific(socketQueue, IsOnSocketQueueOrTargetQueueKey, nullptr);
}

bool AsyncTcpSocket::isOnSocketQueue() const { return dispatch_get_specific(IsOnSocketQueueOrTargetQueueKey) != nullptr; }

void AsyncTcpSocket::performSync(const dispatch_block_t& block) const {
  if (isOnSocketQueue()) {
    block();
  } else {
    dispatch_sync(socketQueue, block);
  }
}

// ---------------------------------------------------------------------------
// Configuration

std::shared_ptr<AsyncTcpSocketDelegate> AsyncTcpSocket::delegate() const {
  std::shared_ptr<AsyncTcpSocketDelegate> result;
  performSync([&] { result = delegate_.lock(); });
  return result;
}

void AsyncTcpSocket::setDelegate(std::weak_ptr<AsyncTcpSocketDelegate> delegate) {
  performSync([&] { delegate_ = std::move(delegate); });
}

dispatch_queue_t AsyncTcpSocket::delegateQueue() const {
  dispatch_queue_t result;
  performSync([&] { result = delegateQueue_; });
  return result;
}

void AsyncTcpSocket::setDelegateQueue(dispatch_queue_t delegateQueue) {
  performSync([&] { delegateQueue_ = std::move(delegateQueue); });
}

bool AsyncTcpSocket::isIPv4Enabled() const {
  bool result = false;
  performSync([&] { result = (config & kIPv4Disabled) == 0; });
  return result;
}

void AsyncTcpSocket::setIPv4Enabled(bool enabled) {
  performSync([&] { config = enabled ? (config & ~kIPv4Disabled) : (config | kIPv4Disabled); });
}

bool AsyncTcpSocket::isIPv6Enabled() const {
  bool result = false;
  performSync([&] { result = (config & kIPv6Disabled) == 0; });
  return result;
}

void AsyncTcpSocket::setIPv6Enabled(bool enabled) {
  performSync([&] { config = enabled ? (config & ~kIPv6Disabled) : (config | kIPv6Disabled); });
}

void AsyncTcpSocket::notifyDelegate(std::function<void(AsyncTcpSocketDelegate&)> call) {
  auto theDelegate = delegate_.lock();
  if (!theDelegate || !delegateQueue_) return;
  // An idle delegate queue takes the callback on this thread: the read or write
  // that ends here hands over without waking another thread.
  dispatch_async_or_run_if_idle(delegateQueue_, [theDelegate, call = std::move(call)] { call(*theDelegate); });
}

// ---------------------------------------------------------------------------
// Listening and accepting

bool AsyncTcpSocket::acceptOnPort(std::uint16_t port, NSErrorPtr* error) {
  bool result = false;
  NSErrorPtr err;
  performSync([&] {
    if (delegate_.expired()) {
      err = socketError(AsyncTcpSocketBadConfigError, "Attempting to accept without a delegate. Set a delegate first.");
      return;
    }
    if (!delegateQueue_) {
      err = socketError(AsyncTcpSocketBadConfigError,
                        "Attempting to accept without a delegate queue. Set a delegate queue first.");
      return;
    }
    bool useIPv4 = (config & kIPv4Disabled) == 0;
    bool useIPv6 = (config & kIPv6Disabled) == 0;
    if (!useIPv4 && !useIPv6) {
      err = socketError(AsyncTcpSocketBadConfigError,
                        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
      return;
    }
    if (flags & kSocketStarted) {
      err = socketError(AsyncTcpSocketBadConfigError,
                        "Attempting to accept while connected or accepting connections. Disconnect first.");
      return;
    }
    readQueue.clear();
    writeQueue.clear();

    int fd4 = -1;
    int fd6 = -1;
    if (useIPv4) {
      fd4 = createListenSocket(AF_INET, port, &err);
      if (fd4 == -1) return;
    }
    if (useIPv6) {
      // With port 0 both families listen on the port the system chose for IPv4.
      std::uint16_t port6 = (port == 0 && fd4 != -1) ? portOf(fd4, false) : port;
      fd6 = createListenSocket(AF_INET6, port6, &err);
      if (fd6 == -1) {
        if (fd4 != -1) ::close(fd4);
        return;
      }
    }
    socket4FD = fd4;
    socket6FD = fd6;
    flags |= kSocketStarted;
    started_ = true;
    if (fd4 != -1) accept4Source = makeAcceptSource(fd4, true);
    if (fd6 != -1) accept6Source = makeAcceptSource(fd6, false);
    result = true;
  });
  if (!result && error) *error = err;
  return result;
}

int AsyncTcpSocket::createListenSocket(int family, std::uint16_t port, NSErrorPtr* error) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == -1) {
    *error = NSError::posixError(errno, "Error in socket() function");
    return -1;
  }
  auto fail = [&](const char* reason) {
    int err = errno;
    ::close(fd);
    *error = NSError::posixError(err, reason);
    return -1;
  };
  if (!setNonBlocking(fd)) return fail("Error enabling non-blocking IO on socket (fcntl)");
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1) {
    return fail("Error enabling address reuse (setsockopt)");
  }
  int bound;
  if (family == AF_INET6) {
    // The IPv4 listener serves IPv4 clients; without this Linux would refuse to
    // bind the IPv6 any-address to the port the IPv4 listener holds.
    (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (bound == -1) return fail("Error in bind() function");
  if (::listen(fd, kListenBacklog) == -1) return fail("Error in listen() function");
  return fd;
}

dispatch_source_t AsyncTcpSocket::makeAcceptSource(int listenFD, bool isIPv4) {
  dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, listenFD, 0, socketQueue);
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();
  dispatch_source_set_event_handler(source, [weak, listenFD, isIPv4] {
    auto self = weak.lock();
    if (!self) return;
    unsigned long pending = dispatch_source_get_data(isIPv4 ? self->accept4Source : self->accept6Source);
    for (unsigned long i = 0; i < pending; ++i) {
      if (!self->doAccept(listenFD, isIPv4)) break;
    }
  });
  dispatch_source_set_cancel_handler(source, [listenFD] { ::close(listenFD); });
  dispatch_resume(source);
  return source;
}

bool AsyncTcpSocket::doAccept(int parentFD, bool isIPv4) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  int childFD = ::accept4(parentFD, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (childFD == -1) return false;
  if (!setNonBlocking(childFD)) {
    ::close(childFD);
    return false;
  }
  // Linux has no SO_NOSIGPIPE; every write passes MSG_NOSIGNAL instead, so a closed
  // peer yields an error rather than a signal.
  // Replies are small and answer a waiting client: each goes out at once instead of
  // waiting for the acknowledgement of the previous one.
  const int on = 1;
  ::setsockopt(childFD, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

  auto theDelegate = delegate_.lock();
  dispatch_queue_t theDelegateQueue = delegateQueue_;
  if (!theDelegate || !theDelegateQueue) {
    // Nobody could take the connection: it would close at once.
    ::close(childFD);
    return true;
  }
  NSData peerAddress(reinterpret_cast<const std::uint8_t*>(&address),
                     reinterpret_cast<const std::uint8_t*>(&address) + length);
  // The listener stays alive until the delegate has seen the new connection.
  AsyncTcpSocketPtr listener = shared_from_this();
  dispatch_async(theDelegateQueue, [listener, theDelegate, theDelegateQueue, childFD, isIPv4, peerAddress] {
    dispatch_queue_t childQueue;
    if (theDelegate->respondsToNewSocketQueueForConnection()) {
      childQueue = theDelegate->newSocketQueueForConnectionFromAddress(peerAddress, listener);
    }
    auto accepted = std::make_shared<AsyncTcpSocket>(theDelegate, theDelegateQueue, childQueue);
    accepted->adoptConnectedDescriptor(childFD, isIPv4);
    theDelegate->socketDidAcceptNewSocket(listener, accepted);
  });
  return true;
}

void AsyncTcpSocket::adoptConnectedDescriptor(int fd, bool isIPv4) {
  // The descriptor belongs to the socket from here on: even if the socket is
  // released before its sources exist, closing it closes the descriptor.
  performSync([&] {
    (isIPv4 ? socket4FD : socket6FD) = fd;
    flags |= kSocketStarted | kConnected;
    started_ = true;
  });
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();
  dispatch_async(socketQueue, [weak] {
    if (auto self = weak.lock()) self->setupReadAndWriteSources();
  });
}

void AsyncTcpSocket::setupReadAndWriteSources() {
  if (!(flags & kConnected) || readSource) return;  // closed (or re-listening) meanwhile
  int fd = connectedFD();
  readSource = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, fd, 0, socketQueue);
  writeSource = dispatch_source_create(DISPATCH_SOURCE_TYPE_WRITE, fd, 0, socketQueue);
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();

  dispatch_source_set_event_handler(readSource, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->socketFDBytesAvailable = dispatch_source_get_data(self->readSource);
    if (self->socketFDBytesAvailable == 0) self->flags |= kSocketHasReadEOF;
    self->doReadData();
  });
  dispatch_source_set_event_handler(writeSource, [weak] {
    auto self = weak.lock();
    if (!self) return;
    // Watched again only when a write waits for room.
    self->suspendWriteSource();
    self->flags |= kSocketCanAcceptBytes;
    self->doWriteData();
  });

  // The descriptor is closed once both sources are cancelled; both cancel handlers
  // run on the work queue, one after the other.
  auto pendingCancels = std::make_shared<int>(2);
  auto closeWhenBothCancelled = [fd, pendingCancels] {
    if (--*pendingCancels == 0) ::close(fd);
  };
  dispatch_source_set_cancel_handler(readSource, closeWhenBothCancelled);
  dispatch_source_set_cancel_handler(writeSource, closeWhenBothCancelled);

  flags |= kSocketCanAcceptBytes | kWriteSourceSuspended;
  dispatch_resume(readSource);

  maybeDequeueRead();
  maybeDequeueWrite();
}

// ---------------------------------------------------------------------------
// Addresses

bool AsyncTcpSocket::isDisconnected() const {
  bool result = true;
  performSync([&] { result = (flags & kSocketStarted) == 0; });
  return result;
}

bool AsyncTcpSocket::isConnected() const {
  bool result = false;
  performSync([&] { result = (flags & kConnected) != 0; });
  return result;
}

std::optional<std::string> AsyncTcpSocket::localHost() const {
  std::optional<std::string> result;
  performSync([&] { result = hostOf(connectedFD(), false); });
  return result;
}

std::uint16_t AsyncTcpSocket::localPort() const {
  std::uint16_t result = 0;
  performSync([&] { result = portOf(connectedFD(), false); });
  return result;
}

std::optional<std::string> AsyncTcpSocket::connectedHost() const {
  std::optional<std::string> result;
  performSync([&] { result = hostOf(connectedFD(), true); });
  return result;
}

std::uint16_t AsyncTcpSocket::connectedPort() const {
  std::uint16_t result = 0;
  performSync([&] { result = portOf(connectedFD(), true); });
  return result;
}

// ---------------------------------------------------------------------------
// Reading

void AsyncTcpSocket::readDataWithTimeout(double timeout, long tag) {
  enqueueRead(std::make_shared<AsyncReadPacket>(0, timeout, std::nullopt, tag));
}

void AsyncTcpSocket::readDataToData(const NSData& data, double timeout, long tag) {
  if (data.empty()) return;
  enqueueRead(std::make_shared<AsyncReadPacket>(kMaxTerminatorReadLength, timeout, data, tag));
}

void AsyncTcpSocket::enqueueRead(std::shared_ptr<AsyncReadPacket> packet) {
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();
  // Queued reads and writes are short work: an idle socket queue takes them on the
  // calling thread rather than waking a thread of its own.
  dispatch_async_or_run_if_idle(socketQueue, [weak, packet = std::move(packet)] {
    auto self = weak.lock();
    if (!self || !(self->flags & kSocketStarted)) return;
    self->readQueue.push_back(packet);
    self->maybeDequeueRead();
  });
}

std::size_t AsyncTcpSocket::pendingReadCount() const {
  std::size_t result = 0;
  performSync([&] { result = readQueue.size() + (currentRead ? 1 : 0); });
  return result;
}

bool AsyncTcpSocket::dequeueNextRead() {
  if (currentRead || !(flags & kConnected) || readQueue.empty()) return false;
  currentRead = std::move(readQueue.front());
  readQueue.pop_front();
  if (currentRead->timeout >= 0) readTimer = makeTimeoutTimer(currentRead->timeout, true);
  return true;
}

void AsyncTcpSocket::maybeDequeueRead() {
  // Only connections serve reads; requests queued on a listener wait until it closes.
  if (currentRead || !(flags & kConnected)) return;
  dequeueNextRead();
  doReadData();
}

void AsyncTcpSocket::doReadData() {
  for (;;) {
    if (!(flags & kConnected)) return;
    if (!currentRead || (flags & kReadsPaused)) {
      // After end of file, bytes still pre-buffered serve later requests; once none
      // are left the connection is over.
      if ((flags & kSocketHasReadEOF) && preBuffer.availableBytes() == 0) {
        closeWithError(connectionClosedError());
        return;
      }
      // Nothing would take the waiting bytes: stop watching the descriptor, whose
      // readiness would otherwise be reported again and again.
      if (socketFDBytesAvailable > 0 || (flags & kSocketHasReadEOF)) suspendReadSource();
      return;
    }

    // Bytes after a terminator stay pre-buffered for the next request.
    int error = 0;
    bool endOfFile = (flags & kSocketHasReadEOF) != 0;
    const int fd = connectedFD();
    const AsyncReadProgress progress =
        serveReadRequest(*currentRead, preBuffer, socketFDBytesAvailable, endOfFile,
                         [fd](std::uint8_t* target, std::size_t length) { return ::read(fd, target, length); }, &error);
    if (endOfFile) flags |= kSocketHasReadEOF;
    switch (progress) {
      case AsyncReadProgress::complete:
        completeCurrentRead();
        dequeueNextRead();
        continue;
      case AsyncReadProgress::failed:
        closeWithError(NSError::posixError(error, "Error in read() function"));
        return;
      case AsyncReadProgress::maxedOut:
        NSLog("AsyncTcpSocket: no terminator within %lu bytes from %@; closing the connection",
              static_cast<unsigned long>(currentRead->maxLength), hostOf(connectedFD(), true));
        closeWithError(readMaxedOutError());
        return;
      case AsyncReadProgress::endOfFile:
        // Its partial bytes are discarded.
        closeWithError(connectionClosedError());
        return;
      case AsyncReadProgress::waiting:
        break;
    }
    resumeReadSource();  // wait for more bytes
    return;
  }
}

void AsyncTcpSocket::completeCurrentRead() {
  NSData data = currentRead->takeData();
  long tag = currentRead->tag;
  endCurrentRead();
  AsyncTcpSocketPtr self = weak_from_this().lock();
  notifyDelegate([self, data = std::move(data), tag](AsyncTcpSocketDelegate& d) { d.socketDidReadData(self, data, tag); });
}

void AsyncTcpSocket::endCurrentRead() {
  if (readTimer) {
    dispatch_source_cancel(readTimer);
    readTimer = nullptr;
  }
  currentRead = nullptr;
}

void AsyncTcpSocket::suspendReadSource() {
  if (readSource && !(flags & kReadSourceSuspended)) {
    dispatch_suspend(readSource);
    flags |= kReadSourceSuspended;
  }
}

void AsyncTcpSocket::resumeReadSource() {
  if (readSource && (flags & kReadSourceSuspended)) {
    dispatch_resume(readSource);
    flags &= ~kReadSourceSuspended;
  }
}

// ---------------------------------------------------------------------------
// Writing

void AsyncTcpSocket::writeData(NSData data, double timeout, long tag) {
  if (data.empty()) return;
  auto packet = std::make_shared<AsyncWritePacket>(std::move(data), timeout, tag);
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();
  dispatch_async_or_run_if_idle(socketQueue, [weak, packet] {
    auto self = weak.lock();
    if (!self || !(self->flags & kSocketStarted)) return;
    self->writeQueue.push_back(packet);
    self->maybeDequeueWrite();
  });
}

bool AsyncTcpSocket::dequeueNextWrite() {
  if (currentWrite || !(flags & kConnected) || writeQueue.empty()) return false;
  currentWrite = std::move(writeQueue.front());
  writeQueue.pop_front();
  if (currentWrite->timeout >= 0) writeTimer = makeTimeoutTimer(currentWrite->timeout, false);
  return true;
}

void AsyncTcpSocket::maybeDequeueWrite() {
  if (dequeueNextWrite()) doWriteData();
}

void AsyncTcpSocket::doWriteData() {
  while (currentWrite && !(flags & kWritesPaused)) {
    if (!(flags & kSocketCanAcceptBytes)) {
      resumeWriteSource();
      return;
    }
    AsyncWritePacket& write = *currentWrite;
    ssize_t n = ::send(connectedFD(), write.buffer.data() + write.bytesDone, write.remaining(), MSG_NOSIGNAL);
    if (n < 0) {
      if (!wouldBlock(errno)) {
        closeWithError(NSError::posixError(errno, "Error in write() function"));
        return;
      }
      n = 0;
    }
    write.bytesDone += static_cast<std::size_t>(n);
    if (write.remaining() > 0) {
      // The send buffer is full: wait until the descriptor is writable again.
      flags &= ~kSocketCanAcceptBytes;
      resumeWriteSource();
      return;
    }
    completeCurrentWrite();
    dequeueNextWrite();
  }
}

void AsyncTcpSocket::completeCurrentWrite() {
  long tag = currentWrite->tag;
  endCurrentWrite();
  AsyncTcpSocketPtr self = weak_from_this().lock();
  notifyDelegate([self, tag](AsyncTcpSocketDelegate& d) { d.socketDidWriteDataWithTag(self, tag); });
}

void AsyncTcpSocket::endCurrentWrite() {
  if (writeTimer) {
    dispatch_source_cancel(writeTimer);
    writeTimer = nullptr;
  }
  currentWrite = nullptr;
}

void AsyncTcpSocket::suspendWriteSource() {
  if (writeSource && !(flags & kWriteSourceSuspended)) {
    dispatch_suspend(writeSource);
    flags |= kWriteSourceSuspended;
  }
}

void AsyncTcpSocket::resumeWriteSource() {
  if (writeSource && (flags & kWriteSourceSuspended)) {
    dispatch_resume(writeSource);
    flags &= ~kWriteSourceSuspended;
  }
}

// ---------------------------------------------------------------------------
// Time-outs

dispatch_source_t AsyncTcpSocket::makeTimeoutTimer(double timeout, bool isRead) {
  dispatch_source_t timer = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, socketQueue);
  std::weak_ptr<AsyncTcpSocket> weak = weak_from_this();
  dispatch_source_set_event_handler(timer, [weak, isRead] {
    if (auto self = weak.lock()) self->doTimeout(isRead);
  });
  dispatch_source_set_timer(timer, secondsFromNow(timeout), DISPATCH_TIME_FOREVER, 0);
  dispatch_resume(timer);
  return timer;
}

void AsyncTcpSocket::doTimeout(bool isRead) {
  std::shared_ptr<void> packet = isRead ? std::shared_ptr<void>(currentRead) : std::shared_ptr<void>(currentWrite);
  if (!packet) return;
  // The request makes no progress until the question is answered.
  flags |= isRead ? kReadsPaused : kWritesPaused;
  const long tag = isRead ? currentRead->tag : currentWrite->tag;
  const double elapsed = isRead ? currentRead->timeout : currentWrite->timeout;
  const std::size_t bytesDone = isRead ? currentRead->bytesDone : currentWrite->bytesDone;

  auto theDelegate = delegate_.lock();
  bool asks = theDelegate && delegateQueue_ &&
              (isRead ? theDelegate->respondsToShouldTimeoutRead() : theDelegate->respondsToShouldTimeoutWrite());
  if (!asks) {
    doTimeoutWithExtension(isRead, packet, 0);
    return;
  }
  AsyncTcpSocketPtr self = weak_from_this().lock();
  dispatch_async(delegateQueue_, [theDelegate, self, isRead, packet, tag, elapsed, bytesDone] {
    double extension = isRead ? theDelegate->socketShouldTimeoutReadWithTag(self, tag, elapsed, bytesDone)
                              : theDelegate->socketShouldTimeoutWriteWithTag(self, tag, elapsed, bytesDone);
    if (!self) return;
    std::weak_ptr<AsyncTcpSocket> weak = self;
    dispatch_async(self->socketQueue, [weak, isRead, packet, extension] {
      if (auto socket = weak.lock()) socket->doTimeoutWithExtension(isRead, packet, extension);
    });
  });
}

void AsyncTcpSocket::doTimeoutWithExtension(bool isRead, const std::shared_ptr<void>& packet, double extension) {
  const void* current = isRead ? static_cast<const void*>(currentRead.get()) : currentWrite.get();
  if (!packet || packet.get() != current) return;  // finished or closed meanwhile
  if (extension <= 0) {
    closeWithError(isRead ? readTimeoutError() : writeTimeoutError());
    return;
  }
  (isRead ? currentRead->timeout : currentWrite->timeout) += extension;
  dispatch_source_set_timer(isRead ? readTimer : writeTimer, secondsFromNow(extension), DISPATCH_TIME_FOREVER, 0);
  if (isRead) {
    flags &= ~kReadsPaused;
    doReadData();
  } else {
    flags &= ~kWritesPaused;
    doWriteData();
  }
}

// ---------------------------------------------------------------------------
// Closing

void AsyncTcpSocket::disconnect() {
  // Closing a socket that is closed already (as every playback request does with
  // the recorder connection) needs no trip to the work queue.
  if (!started_.load()) return;
  performSync([this] {
    if (flags & kSocketStarted) closeWithError(nullptr);
  });
}

void AsyncTcpSocket::closeWithError(const NSErrorPtr& error) {
  endCurrentRead();
  endCurrentWrite();
  readQueue.clear();
  writeQueue.clear();
  preBuffer.reset();
  socketFDBytesAvailable = 0;

  // Listening descriptors are closed by their sources' cancel handlers.
  if (accept4Source) {
    dispatch_source_cancel(accept4Source);
    accept4Source = nullptr;
    socket4FD = -1;
  }
  if (accept6Source) {
    dispatch_source_cancel(accept6Source);
    accept6Source = nullptr;
    socket6FD = -1;
  }
  // A connection's descriptor is closed once both of its sources are cancelled. A
  // suspended source runs its cancel handler only when resumed.
  if (readSource || writeSource) {
    dispatch_source_cancel(readSource);
    dispatch_source_cancel(writeSource);
    resumeReadSource();
    resumeWriteSource();
    readSource = nullptr;
    writeSource = nullptr;
    socket4FD = -1;
    socket6FD = -1;
  }
  // Descriptors that never got a source.
  if (socket4FD != -1) ::close(socket4FD);
  if (socket6FD != -1) ::close(socket6FD);
  socket4FD = -1;
  socket6FD = -1;

  const bool wasStarted = (flags & kSocketStarted) != 0;
  const bool releasing = (flags & kDealloc) != 0;
  flags = 0;
  started_ = false;
  if (wasStarted) {
    AsyncTcpSocketPtr self = releasing ? nullptr : weak_from_this().lock();
    notifyDelegate([self, error](AsyncTcpSocketDelegate& d) { d.socketDidDisconnect(self, error); });
  }
}
