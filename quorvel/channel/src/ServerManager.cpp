#include "quorvel/channel/ServerManager.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "foundation/format.h"
#include "foundation/log.h"
#include "foundation/thread.h"

QV_OBJC_DEFINE_CLASS(ServerManager, objc::Object)

namespace {

// Runs `block` and logs whatever it throws: nothing raised by a handler or a
// callback may reach the socket layer or the main run loop.
template <class Block>
void guarded(const char* where, Block&& block) {
  try {
    block();
  } catch (const std::exception& e) {  // NSException included
    NSLog("%@: %@", where, e.what());
  } catch (...) {
    NSLog("%@: unknown exception", where);
  }
}

void removeFrom(std::mutex& mutex, std::vector<AsyncTcpSocketPtr>& registry, const AsyncTcpSocketPtr& sock) {
  std::lock_guard lock(mutex);
  registry.erase(std::remove(registry.begin(), registry.end(), sock), registry.end());
}

bool contains(std::mutex& mutex, const std::vector<AsyncTcpSocketPtr>& registry, const AsyncTcpSocketPtr& sock) {
  std::lock_guard lock(mutex);
  return std::find(registry.begin(), registry.end(), sock) != registry.end();
}

}  // namespace

std::shared_ptr<ServerManager> ServerManager::serverManager() {
  static dispatch_once_t once;
  static std::shared_ptr<ServerManager>* instance = nullptr;
  dispatch_once(&once, [] {
    auto manager = std::make_shared<ServerManager>();
    manager->init();
    instance = new std::shared_ptr<ServerManager>(std::move(manager));
  });
  return *instance;
}

void ServerManager::init() {
  auto self = std::static_pointer_cast<ServerManager>(shared_from_this());
  std::weak_ptr<AsyncTcpSocketDelegate> delegate = std::static_pointer_cast<AsyncTcpSocketDelegate>(self);

  socketRecorderServerQueue_ = dispatch_queue_create("RecorderSocketQueue", DISPATCH_QUEUE_SERIAL);
  {
    std::lock_guard lock(connectedRecorderSocketMutex_);
    connectedRecorderSocketArray_.reserve(1);
  }
  recorderServerSocket_.store(AsyncTcpSocket::initWithDelegate(delegate, socketRecorderServerQueue_));
  isRecorderRunning_ = false;

  socketPlaybackServerQueue_ = dispatch_queue_create("PlayBackSocketQueue", DISPATCH_QUEUE_SERIAL);
  playBackServerSocket_.store(AsyncTcpSocket::initWithDelegate(delegate, socketPlaybackServerQueue_));
  {
    std::lock_guard lock(connectedPlayBackSocketMutex_);
    connectedPlayBackSocketArray_.reserve(1);
  }
  isPlaybackRunning_ = false;
  IsPlaybackGetResponse_ = false;
}

ServerManager::~ServerManager() {
  for (const auto& sock : {recorderServerSocket_.load(), playBackServerSocket_.load()}) {
    if (sock) sock->setDelegate(nullptr);
  }
  std::lock_guard recorderLock(connectedRecorderSocketMutex_);
  std::lock_guard playBackLock(connectedPlayBackSocketMutex_);
  for (const auto& sock : connectedRecorderSocketArray_) sock->setDelegate(nullptr);
  for (const auto& sock : connectedPlayBackSocketArray_) sock->setDelegate(nullptr);
}

NSData ServerManager::framedMessage(std::string_view payload) {
  // Ten decimal digits of the payload's byte count, then the payload, built in place:
  // replies can be large (screen images), so the bytes are copied once.
  char header[32];
  const int length = std::snprintf(header, sizeof header, "%010lu", static_cast<unsigned long>(payload.size()));
  NSData framed;
  framed.reserve(static_cast<std::size_t>(length) + payload.size());
  framed.insert(framed.end(), header, header + length);
  framed.insert(framed.end(), payload.begin(), payload.end());
  return framed;
}

std::size_t ServerManager::connectedRecorderSocketCount() const {
  std::lock_guard lock(connectedRecorderSocketMutex_);
  return connectedRecorderSocketArray_.size();
}

std::size_t ServerManager::connectedPlayBackSocketCount() const {
  std::lock_guard lock(connectedPlayBackSocketMutex_);
  return connectedPlayBackSocketArray_.size();
}

// ---------------------------------------------------------------------------
// Sending and listening

void ServerManager::initialiseRecorderServerOnPortNumber(std::uint16_t port, const std::string& request) {
  std::lock_guard lock(recorderSendMutex_);
  jsonRecorderServerData_.store(std::make_shared<const NSData>(framedMessage(request)));
  NSLog("Recorded Steps %@", request);

  AsyncTcpSocketPtr sock = recorderServerSocket_.load();
  if (!isRecorderRunning_) {
    NSErrorPtr error;
    if (!sock->acceptOnPort(port, &error)) {
      NSLog("Error starting server: %@", error);
      return;
    }
    NSLog("Recorder server started on port %hu", port);
    isRecorderRunning_ = true;
  }
  socketDidConnectToHost(sock, sock->localHost(), sock->localPort());
}

void ServerManager::initialisePlayBackServerOnPortNumber(std::uint16_t port, const std::string& response) {
  NSData framed = framedMessage(response);
  jsonPlayBackServerData_.store(std::make_shared<const NSData>(framed));
  NSLog("%@", std::string(framed.begin(), framed.end()));

  if (!isPlaybackRunning_) {
    NSLog("AcceptOnPort-1");
    listenForPlayBack(port);
  }
  AsyncTcpSocketPtr sock = playBackServerSocket_.load();
  socketDidConnectToHost(sock, sock->localHost(), sock->localPort());
}

void ServerManager::listenForPlayBack(std::uint16_t port) {
  AsyncTcpSocketPtr sock = playBackServerSocket_.load();
  NSErrorPtr error;
  if (sock->acceptOnPort(port, &error)) {
    NSLog("Playback server started on port %hu", sock->localPort());
    playBackListenFailureLogged_ = false;
    isPlaybackRunning_ = true;
    return;
  }
  // Not listening is not running: the port is tried again every second until it
  // can be taken, so that a port held for a moment by another process does not
  // leave the application without a playback server.
  if (!playBackListenFailureLogged_.exchange(true)) {
    NSLog("1 Error starting server: %@", error);
    NSLog("Playback server not listening; trying port %hu again every %.1f s", port, kPlayBackRelistenDelay);
  }
  schedulePlayBackListen(port, sock);
}

void ServerManager::schedulePlayBackListen(std::uint16_t port, const AsyncTcpSocketPtr& sock) {
  std::weak_ptr<ServerManager> weak = std::static_pointer_cast<ServerManager>(shared_from_this());
  std::weak_ptr<AsyncTcpSocket> weakSocket = sock;
  // On the playback delegate queue, where accepted connections take their place
  // too: a listen attempt and an accept never interleave.
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(kPlayBackRelistenDelay * NSEC_PER_SEC)),
                 socketPlaybackServerQueue_, [weak, weakSocket, port] {
                   auto self = weak.lock();
                   auto socket = weakSocket.lock();
                   if (!self || !socket || self->isPlaybackRunning_) return;
                   // The attempt belongs to the socket it was scheduled for: once a newer
                   // connection has taken that socket's place, it is not touched.
                   if (socket != self->playBackServerSocket_.load() || !socket->isDisconnected()) return;
                   guarded("Playback server", [&] { self->listenForPlayBack(port); });
                 });
}

void ServerManager::stopRecordingWhilePlayBack() {
  if (auto sock = recorderServerSocket_.load()) sock->disconnect();
}

void ServerManager::writeFramed(const AsyncTcpSocketPtr& sock, NSData framed) {
  sock->writeData(std::move(framed), -1, kFramedMessageTag);
}

// ---------------------------------------------------------------------------
// Socket callbacks

ServerManager::Server ServerManager::serverOfConnection(const AsyncTcpSocketPtr& sock) const {
  if (!sock) return Server::none;
  if (contains(connectedRecorderSocketMutex_, connectedRecorderSocketArray_, sock)) return Server::recorder;
  if (contains(connectedPlayBackSocketMutex_, connectedPlayBackSocketArray_, sock)) return Server::playBack;
  return Server::none;
}

void ServerManager::socketDidAcceptNewSocket(const AsyncTcpSocketPtr&, const AsyncTcpSocketPtr& newSocket) {
  guarded("Accepting a client", [&] {
    const std::uint16_t localPort = newSocket->localPort();
    NSLog("Accepted new socket from %@:%hu", newSocket->localHost(), localPort);
    // The new connection takes the listener's place: the listener is closed, so
    // that the server serves one client at a time. (Replacing it would release it
    // too, but only once the socket layer lets go of it after this callback.)
    AsyncTcpSocketPtr previous;
    if (localPort == kRecorderPort) {
      {
        std::lock_guard lock(connectedRecorderSocketMutex_);
        connectedRecorderSocketArray_.push_back(newSocket);
      }
      previous = recorderServerSocket_.load();
      recorderServerSocket_.store(newSocket);
    } else if (localPort == kPlayBackPort) {
      {
        std::lock_guard lock(connectedPlayBackSocketMutex_);
        connectedPlayBackSocketArray_.push_back(newSocket);
      }
      previous = playBackServerSocket_.load();
      playBackServerSocket_.store(newSocket);
    }
    if (previous && previous != newSocket && !previous->isConnected()) previous->disconnect();
    std::weak_ptr<ServerManager> weak = std::static_pointer_cast<ServerManager>(shared_from_this());
    dispatch_async(dispatch_get_main_queue(), [weak, newSocket, localPort] {
      auto self = weak.lock();
      if (!self) return;
      guarded("Accepting a client", [&] {
        NSLog("Accepted client %@:%hu", newSocket->connectedHost(), localPort);
        self->socketDidConnectToHost(newSocket, newSocket->connectedHost(), localPort);
      });
    });
  });
}

void ServerManager::socketDidConnectToHost(const AsyncTcpSocketPtr& sock, const std::optional<std::string>&,
                                           std::uint16_t) {
  NSLog("DidConnect to host");
  // A listener would only hold the requests until it is released; its server's
  // stored message is written when a client is accepted.
  if (!sock || !sock->isConnected()) return;
  std::shared_ptr<const NSData> data;
  if (sock == recorderServerSocket_.load()) {
    data = jsonRecorderServerData_.load();
  } else if (sock == playBackServerSocket_.load()) {
    data = jsonPlayBackServerData_.load();
  }
  // The read for whatever arrives first is queued before the write: the write's
  // completion queues a read up to CR LF from the delegate queue, and reads are
  // served in the order they were queued, so queuing this one second would let a
  // fast write put the CR LF read first and the client's first message (read as
  // it comes, without a line end) would wait for a CR LF.
  queueCommandRead(sock, CommandRead::any);
  if (data && !data->empty()) writeFramed(sock, *data);
}

void ServerManager::socketDidWriteDataWithTag(const AsyncTcpSocketPtr& sock, long tag) {
  if (tag == kFramedMessageTag) queueCommandRead(sock, CommandRead::toCRLF);
}

void ServerManager::queueCommandRead(const AsyncTcpSocketPtr& sock, CommandRead read) {
  if (!sock) return;
  {
    std::lock_guard lock(commandReadMutex_);
    std::erase_if(commandReadPending_, [](const auto& pending) { return pending.expired(); });
    if (!commandReadPending_.insert(sock).second) return;
  }
  if (read == CommandRead::any) {
    sock->readDataWithTimeout(-1, kReadTag);
  } else {
    sock->readDataToData(AsyncTcpSocket::CRLFData(), -1, kReadTag);
  }
}

void ServerManager::commandReadEnded(const AsyncTcpSocketPtr& sock) {
  std::lock_guard lock(commandReadMutex_);
  commandReadPending_.erase(sock);
}

void ServerManager::socketDidReadData(const AsyncTcpSocketPtr& sock, const NSData& data, long) {
  commandReadEnded(sock);
  // Connections are known by the registry they were put into when accepted (by
  // their local port), which still holds them when the peer has already gone.
  const Server server = serverOfConnection(sock);
  if (server == Server::none) return;
  // Recorder commands are never answered, so no completed write would ask for the
  // next one: ask here, or a client that sends more commands than it receives
  // frames would no longer be heard.
  if (server == Server::recorder) queueCommandRead(sock, CommandRead::toCRLF);
  std::weak_ptr<ServerManager> weak = std::static_pointer_cast<ServerManager>(shared_from_this());
  dispatch_async(dispatch_get_main_queue(), [weak, sock, data, server] {
    auto self = weak.lock();
    if (!self) return;
    if (server == Server::recorder) {
      self->handleRecorderCommand(data);
    } else {
      self->handlePlayBackRequest(data, sock);
    }
  });
}

double ServerManager::socketShouldTimeoutReadWithTag(const AsyncTcpSocketPtr& sock, long, double elapsed,
                                                     std::size_t) {
  if (elapsed <= 15.0) {
    sock->writeData(foundation::dataFromString(kProbeMessage), -1, kProbeTag);
    return 10.0;
  }
  return 0.0;
}

void ServerManager::socketDidDisconnect(const AsyncTcpSocketPtr& sock, const NSErrorPtr& err) {
  if (!sock) return;  // a released listener
  commandReadEnded(sock);
  guarded("Disconnection", [&] {
    const Server server = serverOfConnection(sock);
    if (err && err->domain() == AsyncTcpSocketErrorDomain && err->code() != AsyncTcpSocketClosedError) {
      NSLog("%@ connection closed: %@",
            server == Server::recorder ? "Recorder" : server == Server::playBack ? "Playback" : "Listening",
            err->localizedDescription());
    }
    if (sock == playBackServerSocket_.load()) {
      std::weak_ptr<ServerManager> weak = std::static_pointer_cast<ServerManager>(shared_from_this());
      dispatch_async(dispatch_get_main_queue(), [weak, sock] {
        if (auto self = weak.lock()) guarded("Playback server", [&] { self->playBackClientDidLeave(sock); });
      });
    }
    // Closed connections leave their registry, whichever server they belong to.
    if (server == Server::playBack) {
      removeFrom(connectedPlayBackSocketMutex_, connectedPlayBackSocketArray_, sock);
    } else if (server == Server::recorder) {
      removeFrom(connectedRecorderSocketMutex_, connectedRecorderSocketArray_, sock);
    }
  });
}

void ServerManager::playBackClientDidLeave(const AsyncTcpSocketPtr& sock) {
  NSLog("Client Disconnected. Accepting port again-2");
  stopRecordingWhilePlayBack();
  sock->disconnect();
  // The notice may be handled after a newer connection took the place of the client
  // that left (its accept does not wait for the main thread): the server is then
  // running and serving that connection, which stays as it is.
  if (sock != playBackServerSocket_.load()) return;
  isPlaybackRunning_ = false;
  jsonPlayBackServerData_.store(nullptr);
  // The same (now closed) socket object listens again a second later; the next
  // client receives no greeting. The second passes on a timer rather than in a sleep
  // on the main thread, so the application's screen stays live after every client.
  schedulePlayBackListen(kPlayBackPort, sock);
}
