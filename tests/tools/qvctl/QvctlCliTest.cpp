// The qvctl command line as a process: its output, its exit status and its
// one-line errors, against fake servers on free ports.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "qvctl/Frame.h"
#include "wait.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using qvtest::FakeServer;
using qvctl::frame;

struct CliRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs build/bin/qvctl with `args`, feeding `input` on its standard input.
CliRun qvctl(const std::vector<std::string>& args, const std::string& input = "") {
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  const std::string program = (build / "bin" / "qvctl").string();
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  CliRun run;
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  auto drain = [](int fd, std::string* into) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) into->append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
  };
  std::thread outReader(drain, out[0], &run.out);
  std::thread errReader(drain, err[0], &run.err);
  int status = 0;
  if (!qvtest::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 30s)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  outReader.join();
  errReader.join();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
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
