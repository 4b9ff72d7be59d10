// The qvctl client library: the frame reader, the request builder and the
// connection, against local fake servers.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <thread>

#include "fake_server.h"
#include "qvctl/AiExport.h"
#include "qvctl/Connection.h"
#include "qvctl/Frame.h"
#include "qvctl/Request.h"

namespace {

using namespace std::chrono_literals;
using qvctl::Clock;
using qvctl::Error;
using qvctl::FrameReader;
using qvtest::FakeServer;

TEST(QvctlFrameReader, HandsOutWholePayloadsHoweverTheBytesArrive) {
  EXPECT_EQ(qvctl::frame("[]"), "0000000002[]");
  EXPECT_EQ(qvctl::frame("\xC3\xA9"), "0000000002\xC3\xA9");

  const std::string stream = qvctl::frame("first") + qvctl::frame("") + qvctl::frame("[{\"a\":1}]");
  FrameReader reader;
  std::vector<std::string> payloads;
  for (char c : stream) {  // one byte at a time
    reader.feed(std::string_view(&c, 1));
    while (auto payload = reader.next()) payloads.push_back(*payload);
  }
  EXPECT_EQ(payloads, (std::vector<std::string>{"first", "", "[{\"a\":1}]"}));
  EXPECT_EQ(reader.pending(), 0u);
  EXPECT_NO_THROW(reader.finish());

  FrameReader together;
  together.feed(stream);
  EXPECT_EQ(together.next(), "first");
  EXPECT_EQ(together.next(), "");
  EXPECT_EQ(together.next(), "[{\"a\":1}]");
  EXPECT_EQ(together.next(), std::nullopt);
}

TEST(QvctlFrameReader, RejectsHeadersThatAreNotTenDigits) {
  for (const std::string bad : {"00000000x2[]", "Are you still there?\r\n", "-000000002[]", " 000000002[]"}) {
    FrameReader reader;
    reader.feed(bad);
    EXPECT_THROW(reader.next(), Error) << bad;
  }
  // Known to be bad before ten bytes have arrived.
  FrameReader early;
  early.feed("00{");
  EXPECT_THROW(early.next(), Error);
  // Too large a payload is refused instead of waited for.
  FrameReader limited(100);
  limited.feed("0000000101");
  EXPECT_THROW(limited.next(), Error);
  // A stream that ends inside a frame is truncated.
  FrameReader truncated;
  truncated.feed("0000000010abc");
  EXPECT_EQ(truncated.next(), std::nullopt);
  EXPECT_THROW(truncated.finish(), Error);
  FrameReader headerOnly;
  headerOnly.feed("00000");
  EXPECT_EQ(headerOnly.next(), std::nullopt);
  EXPECT_THROW(headerOnly.finish(), Error);
}

TEST(QvctlRequest, BuildsTheSevenKeysLeavingAbsentOnesOut) {
  qvctl::Request r;
  r.functionname = "findelements";
  r.accessortype = "text";
  r.accessorvalue = "Log \"In\" / caf\xC3\xA9";
  r.tagname = "";
  std::string json = qvctl::buildRequest(r);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  auto parsed = nlohmann::json::parse(json);
  EXPECT_EQ(parsed, nlohmann::json({{"functionname", "findelements"},
                                    {"accessortype", "text"},
                                    {"accessorvalue", "Log \"In\" / caf\xC3\xA9"},
                                    {"tagname", ""}}));

  qvctl::Request all{"f", "t", "v", "g", "d", "ft", "frt"};
  EXPECT_EQ(nlohmann::json::parse(qvctl::buildRequest(all)),
            nlohmann::json({{"functionname", "f"},
                            {"accessortype", "t"},
                            {"accessorvalue", "v"},
                            {"tagname", "g"},
                            {"datavalue", "d"},
                            {"functiontype", "ft"},
                            {"functionresulttype", "frt"}}));
  // Bytes that are not UTF-8 do not make the request unreadable.
  qvctl::Request bad;
  bad.datavalue = std::string("a\xFF");
  EXPECT_NO_THROW(nlohmann::json::parse(qvctl::buildRequest(bad)));
}

TEST(QvctlRequest, ConvenienceCommandsFillTheRightFields) {
  auto find = qvctl::requestForCommand("find", {"text", "Log In"});
  EXPECT_EQ(find.functionname, "findelements");
  EXPECT_EQ(find.accessortype, "text");
  EXPECT_EQ(find.accessorvalue, "Log In");
  EXPECT_EQ(find.tagname, "");
  EXPECT_EQ(qvctl::requestForCommand("find", {"partialtext", "Log", "UIButton"}).tagname, "UIButton");

  auto inside = qvctl::requestForCommand("find-inside", {"PARENT-ID", "xpath", "UIView[0]"});
  EXPECT_EQ(inside.functionname, "findelementsinsideelement");
  EXPECT_EQ(inside.datavalue, "PARENT-ID");
  EXPECT_EQ(inside.accessorvalue, "UIView[0]");

  auto gettext = qvctl::requestForCommand("gettext", {"ID-1"});
  EXPECT_EQ(gettext.functionname, "gettext");
  EXPECT_EQ(gettext.accessorvalue, "ID-1");
  EXPECT_EQ(gettext.datavalue, std::nullopt);

  auto type = qvctl::requestForCommand("type", {"ID-2", "hello"});
  EXPECT_EQ(type.functionname, "sendkeysonelement");
  EXPECT_EQ(type.datavalue, "hello");
  EXPECT_EQ(qvctl::requestForCommand("snapshot", {"screen.jpg"}).functionname, "ai_getscreensnapshot");

  EXPECT_THROW(qvctl::requestForCommand("gettext", {}), Error);
  EXPECT_THROW(qvctl::requestForCommand("find", {"text"}), Error);
  EXPECT_THROW(qvctl::requestForCommand("swipeto", {"extra"}), Error);
  EXPECT_THROW(qvctl::requestForCommand("nosuchword", {}), Error);
}

TEST(QvctlAiExport, ListsLoseTheirImagesAndSnapshotsBecomeJPEGBytes) {
  EXPECT_EQ(qvctl::decodeBase64("TWFu"), "Man");
  EXPECT_EQ(qvctl::decodeBase64("TWE="), "Ma");
  EXPECT_EQ(qvctl::decodeBase64("TQ==\n"), "M");
  EXPECT_EQ(qvctl::decodeBase64(""), "");
  EXPECT_EQ(qvctl::decodeBase64("TWF"), std::nullopt);  // a group cut short
  EXPECT_EQ(qvctl::decodeBase64("TW*u"), std::nullopt);
  // Longer than the pieces the decoder is fed in.
  std::string text, expected;
  for (int i = 0; i < 400000; ++i) text += "/9j/", expected += "\xFF\xD8\xFF";
  EXPECT_EQ(qvctl::decodeBase64(text), expected);

  const std::string list =
      R"([{"elementID":"A","imageBase64":"/9j/","rectangle":{"x":"1.00"}},{"elementID":"B","imageBase64":""}])";
  EXPECT_EQ(nlohmann::json::parse(qvctl::withoutImages(list)),
            nlohmann::json::parse(R"([{"elementID":"A","rectangle":{"x":"1.00"}},{"elementID":"B"}])"));
  EXPECT_EQ(qvctl::withoutImages(R"([{"exceptionmsg":"no"}])"), R"([{"exceptionmsg":"no"}])");
  EXPECT_THROW(qvctl::withoutImages("not json"), Error);

  EXPECT_EQ(qvctl::snapshotJPEG(R"([{"output":"/9j/4A=="}])"), "\xFF\xD8\xFF\xE0");
  try {
    qvctl::snapshotJPEG(R"([{"exceptionmsg":"no window"}])");
    ADD_FAILURE() << "an exception message taken for a snapshot";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("no window"), std::string::npos) << e.what();
  }
  for (const char* bad : {"[]", R"([{"output":"TWFu"}])", R"([{"output":"/9j/4A="}])", R"([{"output":1}])", "{"}) {
    EXPECT_THROW(qvctl::snapshotJPEG(bad), Error) << bad;
  }
}

TEST(QvctlConnection, PlayRequestSkipsTheGreetingAndSendsOneLine) {
  std::string received;
  {
    FakeServer server([&](int fd) {
      FakeServer::send(fd, qvctl::frame("Welcome PlayBackServer Started Successfully (v25-Mar-2019)"));
      received = FakeServer::readUntil(fd, "\r\n");
      FakeServer::send(fd, qvctl::frame("[{\"elementID\":\"A\"}]"));
    });
    qvctl::Connection c("127.0.0.1", server.port(), 5s);
    EXPECT_EQ(qvctl::playRequest(c, R"({"functionname":"findelements"})", Clock::now() + 10s),
              "[{\"elementID\":\"A\"}]");
  }
  EXPECT_EQ(received, "{\"functionname\":\"findelements\"}\r\n");

  // Without a greeting (a later client), the first frame is the reply.
  FakeServer later([](int fd) {
    FakeServer::readUntil(fd, "\r\n");
    FakeServer::send(fd, qvctl::frame("[]"));
  });
  qvctl::Connection c("127.0.0.1", later.port(), 5s);
  EXPECT_EQ(qvctl::playRequest(c, "{}", Clock::now() + 10s), "[]");
}

TEST(QvctlConnection, FailuresAreErrorsWithAReadableReason) {
  const std::uint16_t nothing = qvtest::unusedPort();
  try {
    qvctl::Connection c("127.0.0.1", nothing, 5s);
    ADD_FAILURE() << "connected to a port where nothing listens";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot connect to 127.0.0.1:" + std::to_string(nothing)), std::string::npos)
        << e.what();
  }

  auto replyWith = [](const std::string& bytes) {
    return FakeServer([bytes](int fd) {
      FakeServer::readUntil(fd, "\r\n");
      FakeServer::send(fd, bytes);
    });
  };
  auto errorOf = [](FakeServer& server, std::chrono::milliseconds timeout) -> std::string {
    try {
      qvctl::Connection c("127.0.0.1", server.port(), 5s);
      qvctl::playRequest(c, "{}", Clock::now() + timeout);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  auto malformed = replyWith("HTTP/1.1 400 Bad Request\r\n\r\n");
  EXPECT_NE(errorOf(malformed, 10s).find("malformed reply"), std::string::npos);
  auto truncated = replyWith("0000000100[{\"output\":");
  EXPECT_NE(errorOf(truncated, 10s).find("truncated reply"), std::string::npos);
  auto closed = replyWith("");
  EXPECT_NE(errorOf(closed, 10s).find("connection closed"), std::string::npos);

  // A server that never answers: the deadline ends the wait.
  FakeServer silent([](int fd) { FakeServer::readUntil(fd, "never sent"); });
  const auto start = Clock::now();
  EXPECT_NE(errorOf(silent, 300ms).find("timed out"), std::string::npos);
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(QvctlConnection, ARefusedConnectionIsTriedAgainForAWhile) {
  // A server that starts listening a little later, as the playback server does
  // after its previous client left.
  const std::uint16_t port = qvtest::unusedPort();
  EXPECT_THROW(qvctl::Connection("127.0.0.1", port, 5s), Error);  // no retry: refused at once
  std::thread later([port] {
    std::this_thread::sleep_for(300ms);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) > 0) ::close(::accept(fd, nullptr, nullptr));
    }
    ::close(fd);
  });
  EXPECT_NO_THROW(qvctl::Connection("127.0.0.1", port, 5s, 5s));
  later.join();
}

}  // namespace
