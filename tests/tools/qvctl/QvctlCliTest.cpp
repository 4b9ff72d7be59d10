// The qvctl command line as a process: its output, its exit status and its
// one-line errors, against fake servers on free ports.
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_server.h"
#include "qvctl/Frame.h"
#include "qvctl_run.h"

namespace {

using qvtest::FakeServer;
using qvctl::frame;

using CliRun = qvtest::QvctlRun;

CliRun qvctl(const std::vector<std::string>& args, const std::string& input = "") {
  return qvtest::runQvctl(args, input);
}

int lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(QvctlCli, NothingListeningIsAOneLineErrorAndAFailure) {
  const std::string port = std::to_string(qvtest::unusedPort());
  CliRun run = qvctl({"--port", port, "--timeout", "3", "play", "{}"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(lines(run.err), 1) << run.err;
  EXPECT_EQ(run.err.rfind("qvctl: cannot connect to 127.0.0.1:" + port, 0), 0u) << run.err;
  EXPECT_EQ(run.out, "");

  run = qvctl({"--port", port, "record"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(lines(run.err), 1) << run.err;
}

TEST(QvctlCli, MalformedOrTruncatedRepliesAreErrors) {
  for (const char* reply : {"not a frame at all", "00000000200123"}) {
    FakeServer server([reply](int fd) {
      FakeServer::readUntil(fd, "\r\n");
      FakeServer::send(fd, reply);
    });
    CliRun run = qvctl({"--port", std::to_string(server.port()), "gettext", "ID"});
    EXPECT_EQ(run.status, 1) << reply;
    EXPECT_EQ(lines(run.err), 1) << run.err;
    EXPECT_TRUE(run.err.find("malformed reply") != std::string::npos ||
                run.err.find("truncated reply") != std::string::npos)
        << run.err;
  }
}

TEST(QvctlCli, ConvenienceCommandSendsTheRequestAndPrintsTheReply) {
  std::string request;
  CliRun run;
  {
    FakeServer server([&](int fd) {
      FakeServer::send(fd, frame("Welcome PlayBackServer Started Successfully (v25-Mar-2019)"));
      request = FakeServer::readUntil(fd, "\r\n");
      FakeServer::send(fd, frame(R"([{"elementID":"E1"}])"));
    });
    run = qvctl({"--port", std::to_string(server.port()), "find", "text", "Log In"});
  }
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[{\"elementID\":\"E1\"}]\n");
  ASSERT_GE(request.size(), 2u);
  EXPECT_EQ(request.substr(request.size() - 2), "\r\n");
  EXPECT_EQ(nlohmann::json::parse(request),
            nlohmann::json({{"functionname", "findelements"},
                            {"accessortype", "text"},
                            {"accessorvalue", "Log In"},
                            {"tagname", ""}}));

  EXPECT_EQ(qvctl({"find"}).status, 2);
  EXPECT_EQ(qvctl({"nosuchcommand"}).status, 2);
  CliRun help = qvctl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("never\n  listens again"), std::string::npos) << help.out;
}

TEST(QvctlCli, AiFindLeavesImagesOutAndSnapshotWritesTheJPEG) {
  // One fake agent per run, each answering one request with `reply`.
  auto runAgainst = [](const std::string& reply, const std::vector<std::string>& args, std::string* request = nullptr) {
    std::string received;
    CliRun run;
    {
      FakeServer server([&](int fd) {
        received = FakeServer::readUntil(fd, "\r\n");
        FakeServer::send(fd, frame(reply));
      });
      std::vector<std::string> full{"--port", std::to_string(server.port())};
      full.insert(full.end(), args.begin(), args.end());
      run = qvctl(full);
    }
    if (request) *request = received;
    return run;
  };
  const std::string list = R"([{"elementID":"A","elementType":"UIButton","imageBase64":"/9j/4A=="}])";
  std::string request;
  CliRun plain = runAgainst(list, {"ai-find", "UIButton"}, &request);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(nlohmann::json::parse(plain.out), nlohmann::json::parse(R"([{"elementID":"A","elementType":"UIButton"}])"));
  EXPECT_EQ(nlohmann::json::parse(request), nlohmann::json({{"functionname", "ai_findelements"}, {"tagname", "UIButton"}}));
  CliRun withImages = runAgainst(list, {"--images", "ai-find"}, &request);
  EXPECT_EQ(nlohmann::json::parse(withImages.out), nlohmann::json::parse(list));
  EXPECT_EQ(nlohmann::json::parse(request)["tagname"], "");

  const auto file = std::filesystem::temp_directory_path() / ("qvctl-snapshot-" + std::to_string(::getpid()) + ".jpg");
  std::filesystem::remove(file);
  CliRun snapshot = runAgainst(R"([{"output":"/9j/4A=="}])", {"snapshot", file.string()}, &request);
  EXPECT_EQ(snapshot.status, 0) << snapshot.err;
  EXPECT_EQ(nlohmann::json::parse(request), nlohmann::json({{"functionname", "ai_getscreensnapshot"}}));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\xFF\xD8\xFF\xE0");
  std::filesystem::remove(file);

  // A refusal is a one-line error that names the agent's reason, and leaves no file.
  CliRun refused = runAgainst(R"([{"exceptionmsg":"Window Not Found"}])", {"snapshot", file.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(lines(refused.err), 1) << refused.err;
  EXPECT_NE(refused.err.find("Window Not Found"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(qvctl({"snapshot"}).status, 2);
}

TEST(QvctlCli, RecordPrintsFramesAndForwardsTypedCommands) {
  std::string commands;
  CliRun run;
  {
    FakeServer server([&](int fd) {
      FakeServer::send(fd, frame("Welcome! RecorderServer StartedSuccessfully "));
      commands = FakeServer::readUntil(fd, "highlight=2\r\n");
      FakeServer::send(fd, frame(R"([{"action":"Click"}])") + frame(R"([{"tagName":"UILabel"}])"));
    });
    run = qvctl({"--port", std::to_string(server.port()), "record"}, "startobjectspy\nhighlight=2\n");
  }
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(commands, "startobjectspy\r\nhighlight=2\r\n");
  EXPECT_EQ(run.out, "[{\"action\":\"Click\"}]\n[{\"tagName\":\"UILabel\"}]\n");
  EXPECT_NE(run.err.find("Welcome! RecorderServer StartedSuccessfully"), std::string::npos) << run.err;
}

TEST(QvctlCli, SpyAndHighlightSendTheirCommand) {
  for (const auto& [args, expected] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{{{"spy", "start"}, "startobjectspy\r\n"},
                                                                    {{"spy", "stop"}, "stopobjectspy\r\n"},
                                                                    {{"highlight", "3"}, "highlight=3\r\n"}}) {
    std::string received;
    {
      FakeServer server([&](int fd) { received = FakeServer::readUntil(fd, "\r\n"); });
      std::vector<std::string> full{"--port", std::to_string(server.port())};
      full.insert(full.end(), args.begin(), args.end());
      CliRun run = qvctl(full);
      EXPECT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(received, expected);
  }
  EXPECT_EQ(qvctl({"highlight", "x"}).status, 2);
  EXPECT_EQ(qvctl({"spy", "maybe"}).status, 2);
}

}  // namespace
