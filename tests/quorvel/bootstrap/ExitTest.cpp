// The agent's background cycles never stop, so they run while a process that hosts
// the agent ends: what they use must outlive static destruction. Each run of the
// probe ends in the middle of a polling cycle.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "wait.h"

extern char** environ;

namespace {

TEST(ExitTest, AProcessEndsCleanlyWhileTheBackgroundCyclesRun) {
  const std::string probe = std::string(QV_EXIT_PROBE);
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    char* argv[] = {const_cast<char*>(probe.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, probe.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    if (!qvtest::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30))) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      FAIL() << "the probe did not end";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

}  // namespace
