// The agent's two servers inside a real application process (the agent loaded with
// LD_PRELOAD), driven through real sockets. Every test starts its own application,
// since the recorder server serves one client in the life of a process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "app_process.h"
#include "loopback.h"
#include "qvctl/Connection.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qvtest::AppProcess;
using qvtest::waitUntil;

constexpr std::uint16_t kRecorder = qvctl::kRecorderPort;
constexpr std::uint16_t kPlayBack = qvctl::kPlayBackPort;
const std::string kRecorderGreetingBytes = "0000000044Welcome! RecorderServer StartedSuccessfully ";
const std::string kPlayBackGreetingBytes = "0000000058Welcome PlayBackServer Started Successfully (v25-Mar-2019)";

// Connects as soon as the server listens (the playback server listens again a
// second after its previous client left); -1 if it does not within `timeout`.
int rawConnectWithin(std::uint16_t port, std::chrono::milliseconds timeout = 10s) {
  int fd = -1;
  waitUntil([&] { return (fd = qvtest::connectLoopback(port)) >= 0; }, timeout);
  return fd;
}

bool refused(std::uint16_t port) {
  int fd = qvtest::connectLoopback(port);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == ECONNREFUSED;
}

bool sendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Exactly `n` bytes, or what arrived before the deadline or the end of the stream.
std::string readExactly(int fd, std::size_t n, std::chrono::milliseconds timeout = 10s) {
  std::string out;
  const auto deadline = Clock::now() + timeout;
  while (out.size() < n && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

// True once the peer has closed the connection (anything it still sends is read
// and dropped).
bool closedByPeer(int fd, std::chrono::milliseconds timeout = 10s) {
  return waitUntil(
      [fd] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) return false;
        char buffer[65536];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
      },
      timeout);
}

// Connects as soon as the server listens.
std::optional<qvctl::Connection> connectWithin(std::uint16_t port, std::chrono::milliseconds timeout) {
  std::optional<qvctl::Connection> connection;
  waitUntil(
      [&] {
        try {
          connection.emplace("127.0.0.1", port, 1s);
          return true;
        } catch (const qvctl::Error&) {
          return false;
        }
      },
      timeout);
  return connection;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

class ChannelE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.ready()) << "the application did not start; its log:\n" << app.log();
    ASSERT_TRUE(app.logContains("Recorder server started on port 9892") &&
                app.logContains("Playback server started on port 9898"))
        << "the agent's servers did not start (ports 9892/9898 taken by another process?); its log:\n"
        << app.log();
  }
  void TearDown() override { EXPECT_TRUE(app.alive()) << "the application died; its log:\n" << app.log(); }

  // A well-formed request on a fresh playback connection is answered.
  // A well-formed client is served again. A connection the kernel completed while
  // an earlier client's was still waiting to be accepted is turned away when the
  // server takes that earlier one (one client at a time), so such a client tries
  // again, as a desktop tool would.
  void expectPlayBackServes(std::chrono::milliseconds within = 10s) {
    const auto deadline = Clock::now() + within;
    std::string lastError = "the playback server does not listen again";
    while (Clock::now() < deadline) {
      auto client = connectWithin(kPlayBack, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      if (!client) break;
      try {
        EXPECT_EQ(qvctl::playRequest(*client, R"({"functionname":"nosuchcommand"})", Clock::now() + 10s), "[]");
        return;
      } catch (const qvctl::Error& e) {
        lastError = e.what();
      }
    }
    ADD_FAILURE() << lastError;
  }

  AppProcess app;
};

TEST_F(ChannelE2ETest, GreetingsFramingAndOneClientPerServer) {
  int recorder = qvtest::connectLoopback(kRecorder);
  ASSERT_GE(recorder, 0);
  EXPECT_EQ(readExactly(recorder, kRecorderGreetingBytes.size()), kRecorderGreetingBytes);
  EXPECT_TRUE(qvtest::turnedAway(kRecorder)) << "a second recorder client while the first is connected";

  int playback = qvtest::connectLoopback(kPlayBack);
  ASSERT_GE(playback, 0);
  EXPECT_EQ(readExactly(playback, kPlayBackGreetingBytes.size()), kPlayBackGreetingBytes);
  EXPECT_TRUE(qvtest::turnedAway(kPlayBack)) << "a second playback client while the first is connected";

  // An unknown command: exactly the twelve bytes of an empty list.
  ASSERT_TRUE(sendAll(playback, "{\"functionname\":\"nosuchcommand\"}\r\n"));
  EXPECT_EQ(readExactly(playback, 12), "0000000002[]");

  // The playback request closed the recorder connection, and the recorder server
  // does not listen any more.
  EXPECT_TRUE(closedByPeer(recorder));
  EXPECT_TRUE(refused(kRecorder));
  ::close(recorder);
  ::close(playback);
  // Not even after the playback server has listened again.
  expectPlayBackServes();
  EXPECT_TRUE(refused(kRecorder));
}

TEST_F(ChannelE2ETest, GreetingEchoIsNotAnsweredAndBadBytesAreAnsweredWithAReason) {
  qvctl::Connection client("127.0.0.1", kPlayBack, 5s);
  EXPECT_EQ(client.readFrame(Clock::now() + 10s), "Welcome PlayBackServer Started Successfully (v25-Mar-2019)");

  client.send("Welcome PlayBackServer Started Successfully", Clock::now() + 5s);
  ASSERT_TRUE(waitUntil([&] { return app.logContains("Msg is Welcome PlayBackServer Started Successfully"); }, 10s));
  // The next frame answers the next message: the echo got none.
  client.send(std::string("\xFF\xFE\xFD not UTF-8\r\n"), Clock::now() + 5s);
  std::string reply = client.readFrame(Clock::now() + 10s);
  nlohmann::json parsed = nlohmann::json::parse(reply);
  ASSERT_TRUE(parsed.is_array() && parsed.size() == 1) << reply;
  ASSERT_TRUE(parsed[0].is_object() && parsed[0].size() == 1) << reply;
  ASSERT_TRUE(parsed[0].contains("exceptionmsg")) << reply;
  EXPECT_TRUE(parsed[0]["exceptionmsg"].is_string());
  EXPECT_EQ(nlohmann::json::parse(parsed.dump()), parsed);

  // The same greeting text with CR LF is a request, and the connection still serves.
  EXPECT_EQ(qvctl::playRequest(client, "Welcome PlayBackServer Started Successfully", Clock::now() + 10s), "[]");
  EXPECT_EQ(qvctl::playRequest(client, R"({"functionname":"gettext","accessorvalue":"x"})", Clock::now() + 10s),
            "[]");
}

TEST_F(ChannelE2ETest, PlaybackServerListensAgainAfterItsClientLeaves) {
  {
    qvctl::Connection first("127.0.0.1", kPlayBack, 5s);
    EXPECT_EQ(qvctl::playRequest(first, R"({"functionname":"NoSuchCommand"})", Clock::now() + 10s), "[]");
  }
  for (int round = 0; round < 2; ++round) {
    const auto left = Clock::now();
    auto next = connectWithin(kPlayBack, 5s);
    ASSERT_TRUE(next) << "round " << round;
    std::printf("playback server accepted again %.3f s after its client left\n", secondsSince(left));
    // No greeting: the first frame is the reply.
    next->sendLine(R"({"functionname":"nosuchcommand"})", Clock::now() + 5s);
    EXPECT_EQ(next->readFrame(Clock::now() + 10s), "[]");
    EXPECT_TRUE(qvtest::turnedAway(kPlayBack));
  }
  EXPECT_TRUE(app.logContains("Client Disconnected. Accepting port again-2"));
}

TEST_F(ChannelE2ETest, RecorderCommandsAreReadAsLongAsTheConnectionLasts) {
  qvctl::Connection recorder("127.0.0.1", kRecorder, 5s);
  EXPECT_EQ(recorder.readFrame(Clock::now() + 10s), "Welcome! RecorderServer StartedSuccessfully ");
  auto count = [&](const std::string& line) {
    std::string log = app.log();
    int n = 0;
    for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  // Nothing is recorded meanwhile, so no frame is written: each command must be
  // read all the same.
  const char* commands[] = {"startobjectspy", "STOPOBJECTSPY", "xx StartObjectSpy xx", "stopobjectspy"};
  int spy = 0;
  int recording = 0;
  for (const char* command : commands) {
    recorder.sendLine(command, Clock::now() + 5s);
    const bool start = std::string(command).find("tart") != std::string::npos;
    (start ? spy : recording)++;
    ASSERT_TRUE(waitUntil([&] { return count("Switching to spy") == spy && count("Switching to recorder") == recording; },
                          10s))
        << "command \"" << command << "\" was not read";
  }
  recorder.sendLine("highlight=0", Clock::now() + 5s);
  EXPECT_TRUE(waitUntil([&] { return count("HIGHLIGHTING in Spy: 'highlight=0\r\n' ") == 1; }, 10s));
}

TEST_F(ChannelE2ETest, QvctlCommandOnAShortConnectionIsAppliedAndEndsRecording) {
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  const std::string qvctl = (build / "bin" / "qvctl").string();
  // The command is applied although the client is gone before the agent reads it.
  EXPECT_EQ(std::system((qvctl + " spy start 2>/dev/null").c_str()), 0);
  EXPECT_TRUE(waitUntil([&] { return app.logContains("Switching to spy"); }, 10s));
  // That connection was the recorder server's only one.
  EXPECT_NE(std::system((qvctl + " --timeout 2 spy stop 2>/dev/null").c_str()), 0);
  EXPECT_FALSE(app.logContains("Switching to recorder"));
  // Playback is untouched.
  auto client = connectWithin(kPlayBack, 10s);
  ASSERT_TRUE(client);
  EXPECT_EQ(qvctl::playRequest(*client, R"({"functionname":"nosuchcommand"})", Clock::now() + 10s), "[]");
}

TEST_F(ChannelE2ETest, HostileClientsNeitherCrashNorStopTheServers) {
  std::mt19937 random(20240607);
  auto randomBytes = [&](std::size_t n) {
    std::string bytes(n, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
  };

  // Recorder: garbage, then a command on the same connection, then a half-close.
  {
    qvctl::Connection recorder("127.0.0.1", kRecorder, 5s);
    recorder.send(randomBytes(64 * 1024) + "\r\n", Clock::now() + 10s);
    // A command that arrives together with the garbage is read with it (the first
    // read takes whatever has arrived) and lost with it: repeat it until it is heard.
    EXPECT_TRUE(waitUntil(
        [&] {
          recorder.send("startobjectspy\r\n", Clock::now() + 10s);
          return waitUntil([&] { return app.logContains("Switching to spy"); }, 500ms);
        },
        15s));
    ::shutdown(recorder.fd(), SHUT_WR);
    EXPECT_TRUE(closedByPeer(recorder.fd()));
  }
  EXPECT_TRUE(refused(kRecorder));

  // Playback: random bytes with line ends among them.
  {
    int fd = rawConnectWithin(kPlayBack);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(sendAll(fd, randomBytes(4096) + "\r\n"));
    ::close(fd);
  }
  expectPlayBackServes();

  // Playback: 32 MiB without a line end, then gone.
  {
    int fd = rawConnectWithin(kPlayBack);
    ASSERT_GE(fd, 0);
    const std::string chunk(1 << 20, 'z');
    for (int i = 0; i < 32; ++i) ASSERT_TRUE(sendAll(fd, chunk)) << "after " << i << " MiB";
    ::close(fd);
  }
  expectPlayBackServes();

  // Playback: half a request, then a half-close; the server closes its side.
  {
    int fd = rawConnectWithin(kPlayBack);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "{\"functionname\":\"find"));
    ::shutdown(fd, SHUT_WR);
    EXPECT_TRUE(closedByPeer(fd));
    ::close(fd);
  }
  expectPlayBackServes();

  // 1,000 connect-and-close cycles on both ports. While nothing listens a cycle is
  // refused at once; the pace spreads them over a few of the playback server's
  // returns to listening.
  int accepted = 0;
  for (int i = 0; i < 1000; ++i) {
    int fd = qvtest::connectLoopback(i % 2 ? kRecorder : kPlayBack);
    if (fd >= 0) {
      ++accepted;
      ::close(fd);
    } else {
      std::this_thread::sleep_for(5ms);
    }
  }
  std::printf("%d of 1000 connections were accepted\n", accepted);
  EXPECT_GE(accepted, 2);
  ASSERT_TRUE(app.alive());
  expectPlayBackServes();
}

TEST_F(ChannelE2ETest, OverlongLineClosesThePlaybackConnectionAndTheServerRecovers) {
  int fd = qvtest::connectLoopback(kPlayBack);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(readExactly(fd, kPlayBackGreetingBytes.size()), kPlayBackGreetingBytes);
  // The server reads up to 64 MiB looking for CR LF, then gives up on the client.
  const std::string chunk(1 << 20, 'y');
  int sent = 0;
  while (sent < 80 && sendAll(fd, chunk)) ++sent;
  EXPECT_GE(sent, 64);
  EXPECT_TRUE(closedByPeer(fd, 60s));
  ::close(fd);
  EXPECT_TRUE(waitUntil([&] { return app.logContains("no terminator within 67108864 bytes"); }, 10s));
  // The delegate hears of the closed connection on its own queue, a moment later.
  EXPECT_TRUE(waitUntil(
      [&] { return app.logContains("Playback connection closed: Read operation exceeded the maximum length"); }, 10s));
  expectPlayBackServes();
}

TEST(ChannelE2EStartTest, AgentStartsOnceWhenLoadedTwice) {
  // Two copies of the library in one process (linked and preloaded, say): the
  // second one's load hook does nothing.
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  const auto copy = std::filesystem::temp_directory_path() / ("libQuorvel-copy-" + std::to_string(::getpid()) + ".so");
  std::filesystem::copy_file(build / "lib" / "libQuorvel.so", copy, std::filesystem::copy_options::overwrite_existing);
  {
    qvtest::AppOptions options;
    options.preload = {copy.string()};
    AppProcess app(options);
    ASSERT_TRUE(app.ready()) << app.log();
    auto count = [&](const std::string& line) {
      std::string log = app.log();
      int n = 0;
      for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count("Recorder server started on port 9892"), 1);
    EXPECT_EQ(count("Playback server started on port 9898"), 1);
    EXPECT_EQ(count("Loading ZARVO IOS INSTRUMENTOR..."), 1);
    EXPECT_EQ(count("Error starting server"), 0);
    int recorder = qvtest::connectLoopback(kRecorder);
    ASSERT_GE(recorder, 0);
    EXPECT_EQ(readExactly(recorder, kRecorderGreetingBytes.size()), kRecorderGreetingBytes);
    ::close(recorder);
  }
  std::filesystem::remove(copy);
}

}  // namespace
