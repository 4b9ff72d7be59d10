#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/format.h"
#include "foundation/log.h"

extern char** environ;

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

TEST(FormatTest, ObjectConversionTakesTextsAbsentTextsAndObjects) {
  std::optional<std::string> absent;
  const char* noText = nullptr;
  EXPECT_EQ(NSStringWithFormat("%@|%@|%@|%@", std::string("a"), "b", std::optional<std::string>("c"), absent),
            "a|b|c|(null)");
  EXPECT_EQ(NSStringWithFormat("%@ %s", noText, noText), "(null) (null)");
  EXPECT_EQ(NSStringWithFormat("%@", nullptr), "(null)");

  auto object = std::make_shared<objc::Object>();
  EXPECT_THAT(NSStringWithFormat("[%@]", object), MatchesRegex("\\[<NSObject: 0x[0-9a-f]+>\\]"));
  std::shared_ptr<objc::Object> noObject;
  EXPECT_EQ(NSStringWithFormat("%@", noObject), "(null)");
  NSErrorPtr error = std::make_shared<NSError>(NSURLErrorDomain, -1004, "Could not connect", "refused");
  EXPECT_EQ(NSStringWithFormat("%@", error),
            "Error Domain=NSURLErrorDomain Code=-1004 \"Could not connect\" UserInfo={NSLocalizedFailureReason=refused}");
  EXPECT_EQ(NSStringWithFormat("%@ %@", 5, 2.5), "5 2.5");
  EXPECT_EQ(NSStringWithFormat("%8@|%-4@|", "ab", "c"), "      ab|c   |");
}

TEST(FormatTest, IntegerAndFloatingConversions) {
  EXPECT_EQ(NSStringWithFormat("%010lu%@", 42ul, "{}"), "0000000042{}");
  EXPECT_EQ(NSStringWithFormat("%010lu", 12345678901ul), "12345678901");
  EXPECT_EQ(NSStringWithFormat("%.f|%.f|%.f", 99.6, 99.4, 1234.5678), "100|99|1235");
  EXPECT_EQ(NSStringWithFormat("%.2f %5.1f %e", 3.14159, 2.25f, 1500.0), "3.14   2.2 1.500000e+03");
  EXPECT_EQ(NSStringWithFormat("%hu", 9892), "9892");
  EXPECT_EQ(NSStringWithFormat("%hu %hhu %hd", 70000, 300, 40000), "4464 44 -25536");
  EXPECT_EQ(NSStringWithFormat("%d %ld %lld %zd %i", -5, -6L, -7LL, static_cast<long>(8), 9), "-5 -6 -7 8 9");
  EXPECT_EQ(NSStringWithFormat("%u", -1), "4294967295");
  EXPECT_EQ(NSStringWithFormat("%lu", -1L), "18446744073709551615");
  EXPECT_EQ(NSStringWithFormat("%x %X %#o %c", 255, 255, 8, 'Q'), "ff FF 010 Q");
  EXPECT_EQ(NSStringWithFormat("%5s|%-5d|%+d|%'d", "ab", 7, 3, 1000), "   ab|7    |+3|1000");
  EXPECT_EQ(NSStringWithFormat("%*d|%.*f", 4, 1, 2, 3.14159), "   1|3.14");
  EXPECT_EQ(NSStringWithFormat("100%% sure"), "100% sure");
  EXPECT_EQ(NSStringWithFormat("%d %s %f", true, std::string("s"), 3), "1 s 3.000000");
  EXPECT_THAT(NSStringWithFormat("%p", static_cast<const void*>(&errno)), MatchesRegex("0x[0-9a-f]+"));
}

TEST(FormatTest, MissingMismatchedAndOddArgumentsDoNotMisbehave) {
  EXPECT_EQ(NSStringWithFormat("%@ and %d and %s and %f"), "(null) and 0 and (null) and 0.000000");
  EXPECT_EQ(NSStringWithFormat("%d", "text"), "0");
  EXPECT_EQ(NSStringWithFormat("only %d", 1, 2, 3), "only 1");
  EXPECT_EQ(NSStringWithFormat("%d|%ld|%ld|%lu|%lu", std::nan(""), 1e300, -1e300, 1e300, -5.0),
            "0|9223372036854775807|-9223372036854775808|18446744073709551615|18446744073709551611");
  EXPECT_EQ(NSStringWithFormat("%n%k|%", 1), "%n%k|%");
  EXPECT_EQ(NSStringWithFormat("tail %5"), "tail %5");

  // Widths are honoured whatever their size; absurd ones do not take the process down.
  EXPECT_EQ(NSStringWithFormat("%600d", 1).size(), 600u);
  EXPECT_EQ(NSStringWithFormat("%700@", "x").size(), 700u);
  EXPECT_EQ(NSStringWithFormat("%.700f", 1.0).size(), 702u);
  std::string huge = NSStringWithFormat("[%*d]", INT_MAX, 1);
  EXPECT_EQ(huge.front(), '[');
  EXPECT_EQ(huge.back(), ']');
  std::string hugeText = NSStringWithFormat("[%*@]", 1L << 40, "x");
  EXPECT_EQ(hugeText.back(), ']');
}

TEST(LogTest, ObserversSeeEveryMessageEvenWhenOutputIsOff) {
  std::vector<std::string> seen;
  int token = foundation::addLogObserver([&](const std::string& m) { seen.push_back(m); });
  NSLog("Recorder server started on port %hu", 9892);
  NSLog("Accepted client %@:%hu", std::optional<std::string>(), 9898);
  foundation::removeLogObserver(token);
  NSLog("not seen");
  EXPECT_EQ(seen, (std::vector<std::string>{"Recorder server started on port 9892", "Accepted client (null):9898"}));
  foundation::removeLogObserver(-1);  // unknown tokens are ignored
}

// The child half of the output test below: logs two lines and reports, on standard
// output, how many its observer saw.
TEST(LogChildProcess, DISABLED_EmitLines) {
  int observed = 0;
  int token = foundation::addLogObserver([&](const std::string&) { ++observed; });
  NSLog("child line %d", 1);
  NSLog("child line %@", "two");
  foundation::removeLogObserver(token);
  std::printf("observed=%d\n", observed);
}

struct ChildOutput {
  std::string out, err;
  int status = -1;
};

ChildOutput runLogChild(const char* logSetting) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "QUORVEL_LOG=", 12) != 0) env.emplace_back(*e);
  }
  if (logSetting) env.push_back(std::string("QUORVEL_LOG=") + logSetting);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string self = "/proc/self/exe";
  std::string filter = "--gtest_filter=LogChildProcess.DISABLED_EmitLines";
  std::string disabled = "--gtest_also_run_disabled_tests";
  char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};

  int outPipe[2], errPipe[2];
  ChildOutput result;
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  auto drain = [](int fd, std::string& into) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) into.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  };
  drain(outPipe[0], result.out);  // the child writes little: one pipe at a time is enough
  drain(errPipe[0], result.err);
  if (rc == 0) ::waitpid(pid, &result.status, 0);
  return result;
}

TEST(LogTest, OutputGoesToStandardErrorUnlessSwitchedOff) {
  ChildOutput on = runLogChild(nullptr);
  ASSERT_TRUE(WIFEXITED(on.status) && WEXITSTATUS(on.status) == 0) << on.out << on.err;
  EXPECT_THAT(on.out, HasSubstr("observed=2"));
  // "<date> <time>.<ms> <process>[<pid>:<tid>] <message>", one line per call.
  EXPECT_THAT(on.err, MatchesRegex("(.*\n)?[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} [^ ]+\\[[0-9]+:[0-9]+\\] "
                                   "child line 1\n[^\n]* child line two\n(.*\n)?"));

  ChildOutput off = runLogChild("off");
  ASSERT_TRUE(WIFEXITED(off.status) && WEXITSTATUS(off.status) == 0) << off.out << off.err;
  EXPECT_THAT(off.out, HasSubstr("observed=2"));
  EXPECT_THAT(off.err, Not(HasSubstr("child line")));
}

}  // namespace
