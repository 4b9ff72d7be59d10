// An asynchronous TCP socket for servers: listening on a port (IPv4 and IPv6),
// accepting connections, queued reads (whatever is available, or up to a
// terminator) and writes served strictly in order, read and write time-outs, and
// closing. Every socket has a private serial work queue on which all its state
// lives; the descriptors are non-blocking and driven by dispatch readiness
// sources. Completions are reported to a delegate, always asynchronously and
// always on the delegate queue.
//
// Sockets are owned by shared pointers. Releasing the last reference closes the
// socket (its delegate then hears socketDidDisconnect with no socket).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/dispatch.h"
#include "foundation/data.h"
#include "foundation/error.h"
#include "quorvel/channel/socket/AsyncSocketPackets.h"
#include "quorvel/channel/socket/AsyncSocketPreBuffer.h"

class AsyncTcpSocket;
using AsyncTcpSocketPtr = std::shared_ptr<AsyncTcpSocket>;

inline constexpr const char* AsyncTcpSocketErrorDomain = "AsyncTcpSocketErrorDomain";

enum AsyncTcpSocketError : long {
  AsyncTcpSocketNoError = 0,
  AsyncTcpSocketBadConfigError = 1,     // a listen request refused before any system call
  AsyncTcpSocketReadMaxedOutError = 3,  // a terminator read grew past its maximum length
  AsyncTcpSocketReadTimeoutError = 4,
  AsyncTcpSocketWriteTimeoutError = 5,
  AsyncTcpSocketClosedError = 7,        // end of file on a connection
};

// Receiver of a socket's callbacks. Every callback runs on the delegate queue. The
// socket holds its delegate weakly, and strongly only while a callback is queued.
// The optional questions are asked only when the matching respondsTo... answers
// true; otherwise the socket behaves as if the answer were "no".
class AsyncTcpSocketDelegate {
 public:
  virtual ~AsyncTcpSocketDelegate() = default;

  // newSocketQueueForConnectionFromAddress:onSocket: — the work queue for a newly
  // accepted connection (a serial queue, or nullptr for a fresh one). `address` is
  // the peer's raw socket address.
  virtual bool respondsToNewSocketQueueForConnection() const { return false; }
  virtual dispatch_queue_t newSocketQueueForConnectionFromAddress(const NSData& address,
                                                                  const AsyncTcpSocketPtr& onSocket) {
    (void)address;
    (void)onSocket;
    return nullptr;
  }

  // socket:didAcceptNewSocket: — `newSocket` shares the listener's delegate and
  // delegate queue; it closes as soon as nobody keeps a reference to it.
  virtual void socketDidAcceptNewSocket(const AsyncTcpSocketPtr& sock, const AsyncTcpSocketPtr& newSocket) {
    (void)sock;
    (void)newSocket;
  }
  // socket:didConnectToHost:port: — never sent by a server socket; its owner may
  // call it itself.
  virtual void socketDidConnectToHost(const AsyncTcpSocketPtr& sock, const std::optional<std::string>& host,
                                      std::uint16_t port) {
    (void)sock;
    (void)host;
    (void)port;
  }
  // socket:didReadData:withTag: — exactly the bytes of one read request.
  virtual void socketDidReadData(const AsyncTcpSocketPtr& sock, const NSData& data, long tag) {
    (void)sock;
    (void)data;
    (void)tag;
  }
  // socket:didWriteDataWithTag:
  virtual void socketDidWriteDataWithTag(const AsyncTcpSocketPtr& sock, long tag) {
    (void)sock;
    (void)tag;
  }
  // socket:shouldTimeoutReadWithTag:elapsed:bytesDone: — extra seconds for the
  // current read, or 0 (or less) to let it time out and close the socket.
  virtual bool respondsToShouldTimeoutRead() const { return false; }
  virtual double socketShouldTimeoutReadWithTag(const AsyncTcpSocketPtr& sock, long tag, double elapsed,
                                                std::size_t bytesDone) {
    (void)sock;
    (void)tag;
    (void)elapsed;
    (void)bytesDone;
    return 0;
  }
  // socket:shouldTimeoutWriteWithTag:elapsed:bytesDone: — the same for writes.
  virtual bool respondsToShouldTimeoutWrite() const { return false; }
  virtual double socketShouldTimeoutWriteWithTag(const AsyncTcpSocketPtr& sock, long tag, double elapsed,
                                                 std::size_t bytesDone) {
    (void)sock;
    (void)tag;
    (void)elapsed;
    (void)bytesDone;
    return 0;
  }
  // socketDidDisconnect:withError: — `sock` is absent when the socket closed
  // because it was released; `err` is absent after disconnect() or a release.
  virtual void socketDidDisconnect(const AsyncTcpSocketPtr& sock, const NSErrorPtr& err) {
    (void)sock;
    (void)err;
  }
};

class AsyncTcpSocket : public std::enable_shared_from_this<AsyncTcpSocket> {
 public:
  // A terminator read that has taken this many bytes without finding its
  // terminator closes the connection (AsyncTcpSocketReadMaxedOutError).
  static constexpr std::size_t kMaxTerminatorReadLength = std::size_t{64} << 20;

  // initWithDelegate:delegateQueue: — an idle socket. `socketQueue` must be serial;
  // nullptr gives the socket a new work queue labelled "AsyncTcpSocket".
  AsyncTcpSocket(std::weak_ptr<AsyncTcpSocketDelegate> delegate, dispatch_queue_t delegateQueue,
                 dispatch_queue_t socketQueue = nullptr);
  static AsyncTcpSocketPtr initWithDelegate(std::weak_ptr<AsyncTcpSocketDelegate> delegate,
                                            dispatch_queue_t delegateQueue, dispatch_queue_t socketQueue = nullptr);
  ~AsyncTcpSocket();

  AsyncTcpSocket(const AsyncTcpSocket&) = delete;
  AsyncTcpSocket& operator=(const AsyncTcpSocket&) = delete;

  // Configuration; callable from any thread.
  std::shared_ptr<AsyncTcpSocketDelegate> delegate() const;
  void setDelegate(std::weak_ptr<AsyncTcpSocketDelegate> delegate);
  void setDelegate(std::nullptr_t) { setDelegate(std::weak_ptr<AsyncTcpSocketDelegate>()); }
  dispatch_queue_t delegateQueue() const;
  void setDelegateQueue(dispatch_queue_t delegateQueue);
  bool isIPv4Enabled() const;
  void setIPv4Enabled(bool enabled);
  bool isIPv6Enabled() const;
  void setIPv6Enabled(bool enabled);

  // acceptOnPort:error: — listens on all interfaces of every enabled family; with
  // port 0 the IPv6 listener takes the port the system chose for IPv4. On failure
  // returns false, sets *error (when given) and leaves nothing open.
  bool acceptOnPort(std::uint16_t port, NSErrorPtr* error = nullptr);

  // Listening or connected.
  bool isDisconnected() const;
  bool isConnected() const;

  // Address text and port (host byte order) of the socket's own end, and of the
  // peer of a connection; the IPv4 descriptor is asked first. Absent / 0 when
  // there is none.
  std::optional<std::string> localHost() const;
  std::uint16_t localPort() const;
  std::optional<std::string> connectedHost() const;
  std::uint16_t connectedPort() const;

  // Requests; callable from any thread, served in the order queued. A negative
  // time-out means none. Requests on a socket that is not started are dropped.
  void readDataWithTimeout(double timeout, long tag);
  // Up to and including `data`; an empty terminator queues nothing.
  void readDataToData(const NSData& data, double timeout, long tag);
  // No bytes: nothing is queued and nothing completes.
  void writeData(NSData data, double timeout, long tag);

  // Diagnostics: reads queued and not yet completed, the current one included.
  std::size_t pendingReadCount() const;

  // Closes at once (synchronously on the work queue); idle sockets are untouched.
  void disconnect();

  static NSData CRLFData() { return {0x0D, 0x0A}; }
  static NSData CRData() { return {0x0D}; }
  static NSData LFData() { return {0x0A}; }
  static NSData ZeroData() { return {0x00}; }

 private:
  // Runs `block` on the work queue and waits; directly when already on it.
  void performSync(const dispatch_block_t& block) const;
  bool isOnSocketQueue() const;

  // Listening and accepting.
  int createListenSocket(int family, std::uint16_t port, NSErrorPtr* error);
  dispatch_source_t makeAcceptSource(int listenFD, bool isIPv4);
  bool doAccept(int parentFD, bool isIPv4);
  void adoptConnectedDescriptor(int fd, bool isIPv4);
  void setupReadAndWriteSources();

  // Reading.
  void enqueueRead(std::shared_ptr<AsyncReadPacket> packet);
  bool dequeueNextRead();
  void maybeDequeueRead();
  void doReadData();
  void completeCurrentRead();
  void endCurrentRead();
  void suspendReadSource();
  void resumeReadSource();

  // Writing.
  bool dequeueNextWrite();
  void maybeDequeueWrite();
  void doWriteData();
  void completeCurrentWrite();
  void endCurrentWrite();
  void suspendWriteSource();
  void resumeWriteSource();

  // Time-outs of the current read (isRead) or write: a one-shot timer, the
  // delegate's question when it answers it, and the answer.
  dispatch_source_t makeTimeoutTimer(double timeout, bool isRead);
  void doTimeout(bool isRead);
  void doTimeoutWithExtension(bool isRead, const std::shared_ptr<void>& packet, double extension);

  void closeWithError(const NSErrorPtr& error);
  int connectedFD() const { return socket4FD != -1 ? socket4FD : socket6FD; }

  // Queues `call(delegate)` on the delegate queue when both are set.
  void notifyDelegate(std::function<void(AsyncTcpSocketDelegate&)> call);

  std::uint32_t flags = 0;
  std::uint8_t config = 0;
  std::weak_ptr<AsyncTcpSocketDelegate> delegate_;
  dispatch_queue_t delegateQueue_;
  int socket4FD = -1;
  int socket6FD = -1;
  dispatch_queue_t socketQueue;
  dispatch_source_t accept4Source;
  dispatch_source_t accept6Source;
  dispatch_source_t readSource;
  dispatch_source_t writeSource;
  dispatch_source_t readTimer;
  dispatch_source_t writeTimer;
  std::deque<std::shared_ptr<AsyncReadPacket>> readQueue;
  std::deque<std::shared_ptr<AsyncWritePacket>> writeQueue;
  std::shared_ptr<AsyncReadPacket> currentRead;
  std::shared_ptr<AsyncWritePacket> currentWrite;
  std::size_t socketFDBytesAvailable = 0;
  AsyncSocketPreBuffer preBuffer;
  const void* IsOnSocketQueueOrTargetQueueKey;
  // kSocketStarted as other threads may read it: set and cleared with it on the work
  // queue.
  std::atomic<bool> started_{false};
};
