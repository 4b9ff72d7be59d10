// The servers and the step sender, started in this process as the bootstrap starts
// them, on the fixed ports 9892 and 9898, with clients of the qvctl library. The
// channel starts once per process and the recorder server never listens again once
// its client is gone, so the whole life of the servers is one test, in phases.
// The test thread is the main thread: it turns the main run loop while it waits,
// since the handlers and the greetings after an accept run on the main queue.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "dispatch/dispatch.h"
#include "foundation/runloop.h"
#include "log_lines.h"
#include "loopback.h"
#include "main_loop.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/channel/TcpChannel.h"
#include "quorvel/playback/ElementSpy.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "qvctl/Connection.h"
#include "uikit/UILabel.h"
#include "uikit/UIWindow.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;


// The next frame, or absent when the server closed the connection; the main run
// loop turns while waiting. Fails the test on a time-out.
std::optional<std::string> nextFrame(qvctl::Connection& c, std::chrono::milliseconds timeout = 5s) {
  std::optional<std::string> frame;
  bool closed = false;
  bool done = qvtest::runMainLoopUntil(
      [&] {
        if ((frame = c.nextBufferedFrame())) return true;
        pollfd p{c.fd(), POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && !c.readAvailable()) {
          c.finishReading();
          closed = true;
        }
        return closed || static_cast<bool>(frame = c.nextBufferedFrame());
      },
      timeout);
  EXPECT_TRUE(done) << "no frame within " << timeout.count() << " ms";
  return frame;
}

bool connectionRefused(std::uint16_t port) {
  try {
    qvctl::Connection c("127.0.0.1", port, 2s);
    return false;
  } catch (const qvctl::Error&) {
    return true;
  }
}

// A plain IPv4 listener holding a port.
int holdPort(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

TEST(ChannelServersTest, RecordingSpyModeAndPlaybackOverTheLifeOfTheServers) {
  qvtest::LogLines logs;
  auto vars = GlobalVars::sharedInstance();
  auto queue = RecorderQueue::get();
  vars->set_spyMode("false");

  // --- The playback port is taken at start: the failure is reported as one, once,
  // and the server listens as soon as the port is free.
  int holder = holdPort(ServerManager::kPlayBackPort);
  ASSERT_GE(holder, 0) << "port 9898 is in use";
  std::make_shared<TcpChannel>()->start();
  auto manager = ServerManager::serverManager();
  EXPECT_TRUE(manager->isRecorderRunning());
  EXPECT_TRUE(logs.contains("Recorder server started on port 9892"));
  EXPECT_FALSE(manager->isPlaybackRunning());
  EXPECT_EQ(logs.count("1 Error starting server"), 1);
  EXPECT_FALSE(logs.contains("Playback server started"));
  ::close(holder);
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return manager->isPlaybackRunning(); }, 10s));
  EXPECT_EQ(logs.count("1 Error starting server"), 1);
  EXPECT_EQ(logs.countExact("Playback server started on port 9898"), 1);

  // --- Recording: the greeting, then every queued entry, framed, in order.
  qvctl::Connection recorder("127.0.0.1", ServerManager::kRecorderPort, 5s);
  EXPECT_EQ(nextFrame(recorder), std::string(ServerManager::kRecorderGreeting));
  EXPECT_TRUE(qvtest::turnedAway(ServerManager::kRecorderPort)) << "one recorder client at a time";
  EXPECT_EQ(manager->connectedRecorderSocketCount(), 1u);

  const JSONValue step = JSONValue::parse(R"([{"action":"Click","elementText":"caf\u00e9 \"Log In\" / <b>",
      "xpath:position":"UIWindow[0]\\UIButton[1]","X":"0","nested":{"list":[1,2.5,true,null]}}])");
  auto enqueued = Clock::now();
  queue->enqueue(step);
  auto got = nextFrame(recorder);
  ASSERT_TRUE(got);
  std::printf("recorded step reached the client after %.3f s\n", secondsSince(enqueued));
  EXPECT_EQ(JSONValue::parse(*got), step) << *got;
  EXPECT_EQ(got->find('\n'), std::string::npos) << "compact JSON";

  // Entries queued between two passes all go out, in order.
  for (int i = 0; i < 3; ++i) queue->enqueue(JSONValue::array({JSONValue{{"n", i}}}));
  for (int i = 0; i < 3; ++i) {
    got = nextFrame(recorder);
    ASSERT_TRUE(got);
    EXPECT_EQ(JSONValue::parse(*got), JSONValue::array({JSONValue{{"n", i}}}));
  }

  // Steps recorded in a web page go first, then the queue.
  vars->set_hybridRecordedSteps(std::string(R"([{"web":"step"}])"));
  queue->enqueue(JSONValue::array({JSONValue{{"after", "web"}}}));
  EXPECT_EQ(nextFrame(recorder), std::string(R"([{"web":"step"}])"));
  got = nextFrame(recorder);
  ASSERT_TRUE(got);
  EXPECT_EQ(JSONValue::parse(*got), JSONValue::array({JSONValue{{"after", "web"}}}));
  EXPECT_EQ(vars->_hybridRecordedSteps(), std::nullopt);

  // An entry that cannot be written as JSON is dropped; the sender carries on.
  queue->enqueue(JSONValue::array({std::string("\xFF\xFE")}));
  queue->enqueue(JSONValue::array({JSONValue{{"still", "sending"}}}));
  got = nextFrame(recorder);
  ASSERT_TRUE(got);
  EXPECT_EQ(JSONValue::parse(*got), JSONValue::array({JSONValue{{"still", "sending"}}}));

  // Every frame written would ask for a command read; the connection keeps one
  // pending however long the recording, and still reads commands (below).
  for (int i = 0; i < 40; ++i) queue->enqueue(JSONValue::array({JSONValue{{"step", i}}}));
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(nextFrame(recorder));
  auto recorderConnection = manager->recorderServerSocket();
  EXPECT_TRUE(qvtest::runMainLoopUntil([&] { return recorderConnection->pendingReadCount() == 1; }, 2s))
      << recorderConnection->pendingReadCount() << " reads pending after 40 frames";

  // --- Spy mode through the recorder connection. Steps recorded before the switch
  // and still waiting are sent, every one of them.
  for (const char* name : {"first", "second", "third"}) queue->enqueue(JSONValue::array({name}));
  recorder.sendLine("StartObjectSpy", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return vars->_spyMode() == std::string("true"); }));
  for (const char* name : {"first", "second", "third"}) {
    EXPECT_EQ(nextFrame(recorder), "[\"" + std::string(name) + "\"]");
  }
  // Of two touches spied within one pass, the newest list goes out: the one the
  // spy storage counts highlight positions from.
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
  window->addSubview(container);
  for (const char* text : {"First", "Second"}) {
    auto label = std::make_shared<UILabel>(CGRectMake(20, container->subviews().size() * 100.0, 200, 40));
    label->setText(text);
    container->addSubview(label);
  }
  const auto spyPass = TcpChannel::startedPasses();
  ASSERT_TRUE(qvtest::waitUntil([&] { return TcpChannel::finishedPasses() >= spyPass; }));
  EXPECT_TRUE(std::make_shared<ElementSpy>()->createSpyHierarchy(container, CGPointMake(50, 20)));
  queue->enqueue(JSONValue::array({"a step between"}));
  EXPECT_TRUE(std::make_shared<ElementSpy>()->createSpyHierarchy(container, CGPointMake(50, 120)));
  EXPECT_EQ(nextFrame(recorder), std::string(R"(["a step between"])"));
  got = nextFrame(recorder);
  ASSERT_TRUE(got);
  const JSONValue spyList = JSONValue::parse(*got);
  ASSERT_EQ(spyList.size(), 2u) << *got;
  EXPECT_EQ(spyList[0].at("elementText"), "Second");
  queue->enqueue(JSONValue::array({"after spying"}));
  EXPECT_EQ(nextFrame(recorder), std::string(R"(["after spying"])")) << "the older spy list was sent";
  // Position 1 from the end of the storage is the first record of the list sent.
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] {
    return !UIView_ToolkitAdditions::TK_hasHighlightBorder(container->subviews()[0]) &&
           !UIView_ToolkitAdditions::TK_hasHighlightBorder(container->subviews()[1]);
  }));
  recorder.sendLine("highlight=1", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::runMainLoopUntil(
      [&] { return UIView_ToolkitAdditions::TK_hasHighlightBorder(container->subviews()[1]); }));
  EXPECT_FALSE(UIView_ToolkitAdditions::TK_hasHighlightBorder(container->subviews()[0]));
  EXPECT_GE(logs.countExact("******Inside Get Length Condition"), 3);

  // More commands than frames written: each is still read.
  recorder.sendLine("stopobjectspy", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return vars->_spyMode() == std::string("false"); }));
  recorder.sendLine("startobjectspy", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return vars->_spyMode() == std::string("true"); }));
  recorder.sendLine("stopobjectspy", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return vars->_spyMode() == std::string("false"); }));

  // --- Playback: the first client is greeted; a request closes the recorder
  // connection for good and is answered on its own connection.
  {
    qvctl::Connection playback("127.0.0.1", ServerManager::kPlayBackPort, 5s);
    EXPECT_EQ(nextFrame(playback), std::string(ServerManager::kPlayBackGreeting));
    EXPECT_TRUE(qvtest::turnedAway(ServerManager::kPlayBackPort)) << "one playback client at a time";
    playback.sendLine(R"({"functionname":"gettext","accessorvalue":"no such element"})", Clock::now() + 5s);
    EXPECT_EQ(nextFrame(playback), std::string("[]"));
    EXPECT_EQ(vars->_isPlaybackStarted(), std::string("true"));
    EXPECT_TRUE(manager->_IsPlaybackGetResponse());
    EXPECT_EQ(nextFrame(recorder), std::nullopt) << "the recorder connection is closed";
    EXPECT_TRUE(qvtest::runMainLoopUntil([&] { return manager->connectedRecorderSocketCount() == 0; }));
    // The next request on the same connection is read to its CR LF.
    playback.sendLine(R"({"functionname":"no such command either"})", Clock::now() + 5s);
    EXPECT_EQ(nextFrame(playback), std::string("[]"));
    auto playbackConnection = manager->playBackServerSocket();
    EXPECT_TRUE(qvtest::runMainLoopUntil([&] { return playbackConnection->pendingReadCount() == 1; }, 2s))
        << playbackConnection->pendingReadCount() << " reads pending after three replies";
  }

  // --- The playback client left: the server listens again about a second later;
  // the next client gets no greeting and is answered.
  const auto left = Clock::now();
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return logs.contains("Client Disconnected. Accepting port again-2"); }));
  // The second before listening again does not hold the main thread: work queued on
  // it now runs while the port is still closed.
  bool mainQueueRan = false;
  dispatch_async(dispatch_get_main_queue(), [&] { mainQueueRan = true; });
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return mainQueueRan; }));
  EXPECT_TRUE(connectionRefused(ServerManager::kPlayBackPort)) << "the main thread waited out the second";
  std::optional<qvctl::Connection> next;
  ASSERT_TRUE(qvtest::runMainLoopUntil(
      [&] {
        try {
          next.emplace("127.0.0.1", ServerManager::kPlayBackPort, 1s);
          return true;
        } catch (const qvctl::Error&) {
          return false;
        }
      },
      10s));
  std::printf("playback server accepted again %.3f s after its client left\n", secondsSince(left));
  next->sendLine(R"({"functionname":"nosuchcommand"})", Clock::now() + 5s);
  EXPECT_EQ(nextFrame(*next), std::string("[]")) << "no greeting for a later client";
  EXPECT_EQ(manager->connectedPlayBackSocketCount(), 1u);
  EXPECT_TRUE(connectionRefused(ServerManager::kRecorderPort)) << "the recorder server never listens again";

  // A read time-out question is answered with the probe and ten more seconds, up
  // to 15 seconds in all.
  auto connection = manager->playBackServerSocket();
  EXPECT_EQ(manager->socketShouldTimeoutReadWithTag(connection, 0, 15.0, 0), 10.0);
  EXPECT_EQ(manager->socketShouldTimeoutReadWithTag(connection, 0, 15.5, 0), 0.0);
  std::string probe;
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] {
    char buffer[64];
    pollfd p{next->fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      ssize_t n = ::recv(next->fd(), buffer, sizeof buffer, 0);
      if (n > 0) probe.append(buffer, static_cast<std::size_t>(n));
    }
    return probe.size() >= 22;
  }));
  EXPECT_EQ(probe, "Are you still there?\r\n");

  // --- The client leaves, and before the main thread handles the notice of its
  // leaving a newer connection has taken its place (here through a listener of the
  // test's own, as a listen that won the race would give). The relisten meant for
  // the client that left never touches the newer connection, which stays served.
  const auto leaving = manager->playBackServerSocket();
  next.reset();
  ASSERT_TRUE(qvtest::waitUntil([&] { return manager->connectedPlayBackSocketCount() == 0; }));
  const int noticesBefore = logs.countExact("Client Disconnected. Accepting port again-2");
  auto racingListener = AsyncTcpSocket::initWithDelegate(manager, dispatch_queue_create("racing", DISPATCH_QUEUE_SERIAL));
  ASSERT_TRUE(racingListener->acceptOnPort(ServerManager::kPlayBackPort));
  qvctl::Connection newer("127.0.0.1", ServerManager::kPlayBackPort, 5s);
  ASSERT_TRUE(qvtest::waitUntil([&] { return manager->playBackServerSocket() != leaving; }));
  racingListener->disconnect();
  ASSERT_TRUE(qvtest::runMainLoopUntil(
      [&] { return logs.countExact("Client Disconnected. Accepting port again-2") > noticesBefore; }));
  const auto noticed = Clock::now();
  qvtest::runMainLoopUntil([&] { return secondsSince(noticed) > 2 * ServerManager::kPlayBackRelistenDelay; }, 10s);
  EXPECT_FALSE(logs.contains("Attempting to accept while connected"));
  EXPECT_TRUE(manager->isPlaybackRunning());
  newer.sendLine(R"({"functionname":"nosuchcommand"})", Clock::now() + 5s);
  EXPECT_EQ(nextFrame(newer), std::string("[]"));
}

}  // namespace
