// The agent's two TCP servers: the recorder server (port 9892), which streams
// recorded steps and spy lists out and takes mode commands in, and the playback
// server (port 9898), which answers each playback command with one reply.
//
// Everything the agent writes with tag 12 is framed: the payload's length in UTF-8
// bytes as ten zero-padded decimal digits, then the payload. Incoming bytes are not
// framed; a connection's first message is read with a read-any request, later ones
// up to CR LF. A connection has at most one such read pending: the recorder writes
// a frame per recorded step and its client may never answer, so a read asked for
// after every write would pile up for as long as the recording lasts.
//
// Each server serves one client at a time: the listener is released as soon as a
// client is accepted. The recorder server never listens again once its connection
// closed; the playback server listens again about one second after its client left.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/dispatch.h"
#include "foundation/data.h"
#include "objc/runtime.h"
#include "quorvel/channel/socket/AsyncTcpSocket.h"
#include "quorvel/state/SharedRef.h"

class ServerManager : public objc::Object, public AsyncTcpSocketDelegate {
  QV_OBJC_DECLARE_CLASS(ServerManager)
 public:
  static constexpr std::uint16_t kRecorderPort = 9892;
  static constexpr std::uint16_t kPlayBackPort = 9898;
  static constexpr const char* kRecorderGreeting = "Welcome! RecorderServer StartedSuccessfully ";
  static constexpr const char* kPlayBackGreeting = "Welcome PlayBackServer Started Successfully (v25-Mar-2019)";
  // A playback message of exactly this text is not answered.
  static constexpr const char* kPlayBackGreetingEcho = "Welcome PlayBackServer Started Successfully";
  static constexpr const char* kProbeMessage = "Are you still there?\r\n";

  // Socket tags: every framed message, the unframed probe, every read.
  static constexpr long kFramedMessageTag = 12;
  static constexpr long kProbeTag = 2;
  static constexpr long kReadTag = 0;

  // Pause between a playback client leaving and the server listening again, and
  // between two attempts to listen when the port could not be taken.
  static constexpr double kPlayBackRelistenDelay = 1.0;

  // The singleton, created (with both sockets, not yet listening) on first use.
  static std::shared_ptr<ServerManager> serverManager();

  // Use serverManager(); a manager made otherwise has no sockets until init().
  ServerManager() = default;
  ~ServerManager() override;
  void init();

  // "%010lu" of the payload's UTF-8 byte count, then the payload.
  static NSData framedMessage(std::string_view payload);

  // Frames `request` and sends it to the recorder client, starting the listener on
  // `port` first if it is not running yet. Sends before a client connected are not
  // queued: the latest one is what the next client receives first.
  void initialiseRecorderServerOnPortNumber(std::uint16_t port, const std::string& request);
  // Frames `response` as the greeting of the playback server and starts listening
  // on `port`. A port that cannot be taken is tried again every second.
  void initialisePlayBackServerOnPortNumber(std::uint16_t port, const std::string& response);
  // Closes the recorder connection (or the recorder listener while no client was
  // ever accepted). The recorder server does not listen again.
  void stopRecordingWhilePlayBack();

  // The message handlers; both run on the main thread and never raise.
  // A recorder command: "startobjectspy", "stopobjectspy" or "highlight=N",
  // searched case-insensitively anywhere in the text. Never answered.
  void handleRecorderCommand(const NSData& data);
  // A playback request: closes the recorder connection, runs the command and
  // writes the framed reply on `connection`.
  void handlePlayBackRequest(const NSData& data, const AsyncTcpSocketPtr& connection);
  // The reply payload for a playback request, or absent when it gets none (the
  // greeting text echoed back). Marks playback as started.
  static std::optional<std::string> playBackReplyForRequest(const NSData& data);
  // The reply to a request that raised: [{"exceptionmsg": reason}], or [{}] when the
  // exception carried no reason.
  static std::string playBackExceptionReply(const std::optional<std::string>& reason);

  // State, for diagnostics and tests.
  bool isRecorderRunning() const { return isRecorderRunning_; }
  bool isPlaybackRunning() const { return isPlaybackRunning_; }
  bool _IsPlaybackGetResponse() const { return IsPlaybackGetResponse_; }
  AsyncTcpSocketPtr recorderServerSocket() const { return recorderServerSocket_.load(); }
  AsyncTcpSocketPtr playBackServerSocket() const { return playBackServerSocket_.load(); }
  std::size_t connectedRecorderSocketCount() const;
  std::size_t connectedPlayBackSocketCount() const;

  // AsyncTcpSocketDelegate.
  void socketDidAcceptNewSocket(const AsyncTcpSocketPtr& sock, const AsyncTcpSocketPtr& newSocket) override;
  // Writes the stored framed message of the socket's server on it (when the socket
  // is that server's current connection) and queues a read of whatever arrives.
  void socketDidConnectToHost(const AsyncTcpSocketPtr& sock, const std::optional<std::string>& host,
                              std::uint16_t port) override;
  void socketDidReadData(const AsyncTcpSocketPtr& sock, const NSData& data, long tag) override;
  void socketDidWriteDataWithTag(const AsyncTcpSocketPtr& sock, long tag) override;
  bool respondsToShouldTimeoutRead() const override { return true; }
  double socketShouldTimeoutReadWithTag(const AsyncTcpSocketPtr& sock, long tag, double elapsed,
                                        std::size_t bytesDone) override;
  void socketDidDisconnect(const AsyncTcpSocketPtr& sock, const NSErrorPtr& err) override;

 private:
  enum class Server { none, recorder, playBack };

  // Which server an accepted connection belongs to (by registry).
  Server serverOfConnection(const AsyncTcpSocketPtr& sock) const;
  // Listens with the playback socket; on failure logs once and tries again later.
  void listenForPlayBack(std::uint16_t port);
  // Listens again with `sock` a second later, unless the server is running by then
  // or `sock` is no longer the server's socket or no longer idle.
  void schedulePlayBackListen(std::uint16_t port, const AsyncTcpSocketPtr& sock);
  // The recovery after the playback client left (main thread).
  void playBackClientDidLeave(const AsyncTcpSocketPtr& sock);
  void highlightStoredView(const std::string& command);
  static void writeFramed(const AsyncTcpSocketPtr& sock, NSData framed);
  // Queues the connection's next command read (whatever arrives, or up to CR LF)
  // unless one is pending already.
  enum class CommandRead { any, toCRLF };
  void queueCommandRead(const AsyncTcpSocketPtr& sock, CommandRead read);
  // The connection's pending command read has completed, or the connection closed.
  void commandReadEnded(const AsyncTcpSocketPtr& sock);

  std::atomic<bool> isRecorderRunning_{false};
  std::atomic<bool> isPlaybackRunning_{false};
  std::atomic<bool> IsPlaybackGetResponse_{false};
  quorvel::SharedRef<AsyncTcpSocket> recorderServerSocket_;
  quorvel::SharedRef<AsyncTcpSocket> playBackServerSocket_;
  quorvel::SharedRef<const NSData> jsonRecorderServerData_;
  dispatch_queue_t socketRecorderServerQueue_;
  mutable std::mutex connectedRecorderSocketMutex_;
  std::vector<AsyncTcpSocketPtr> connectedRecorderSocketArray_;
  mutable std::mutex connectedPlayBackSocketMutex_;
  std::vector<AsyncTcpSocketPtr> connectedPlayBackSocketArray_;
  quorvel::SharedRef<const NSData> jsonPlayBackServerData_;
  dispatch_queue_t socketPlaybackServerQueue_;

  // Sends to the recorder come from the step sender and from start-up at once;
  // they are made one at a time so that only one of them starts the listener.
  std::mutex recorderSendMutex_;
  // Connections with a command read pending (a closed socket's entry expires).
  std::mutex commandReadMutex_;
  std::set<std::weak_ptr<AsyncTcpSocket>, std::owner_less<std::weak_ptr<AsyncTcpSocket>>> commandReadPending_;

  // A failed listen of the playback server is logged once until it succeeds.
  std::atomic<bool> playBackListenFailureLogged_{false};
};
