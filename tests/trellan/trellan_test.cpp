// The runner host as a program: as a tool, and as an application launched in the
// foreground or in the background. The probe bundle reports, from inside the
// host, what was set up before the bundle started and what is left while its
// cases run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using trellantest::ChildRun;

constexpr const char* kRunningTests = "Running tests...";
constexpr const char* kAssertionRefused = "Failed to acquire temporary process assertion. Execution may be interrupted.";
constexpr const char* kBackgroundTask = "Continuing to run tests in the background with task ID";

std::string buildDir() {
  const char* dir = std::getenv("QV_BUILD_DIR");
  return dir ? dir : "";
}
std::string trellanProgram() { return buildDir() + "/bin/trellan"; }
std::string sampleBundle() { return buildDir() + "/lib/libTrellanSampleTests.so"; }
std::string probeBundle() { return buildDir() + "/lib/libTrellanProbeTests.so"; }

class Trellan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(buildDir().empty()) << "QV_BUILD_DIR names the build directory";
    for (const std::string& path : {trellanProgram(), sampleBundle(), probeBundle()}) {
      ASSERT_EQ(::access(path.c_str(), R_OK), 0) << "missing " << path;
    }
  }

  // Runs the host with `arguments` and the bundles `bundles`. The variables that
  // steer it come only from `env`; the platform log stays on.
  static ChildRun run(const std::vector<std::string>& arguments, const std::string& bundles,
                      std::map<std::string, std::string> env = {}) {
    std::vector<std::string> argv{trellanProgram()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    env["QUORVEL_TEST_BUNDLES"] = bundles;
    static const std::set<std::string> cleared{"QUORVEL_LOG", "QUORVEL_LAUNCH_STATE", "QUORVEL_ASSERTION_FAIL",
                                               "TRELLAN_SAMPLE_FAIL"};
    ChildRun child = trellantest::runChild(argv, env, cleared, std::chrono::seconds(30));
    EXPECT_TRUE(child.started) << "could not start " << trellanProgram();
    EXPECT_TRUE(child.finished) << "still running at the deadline\nstdout:\n" << child.out << "\nstderr:\n" << child.err;
    return child;
  }

  // The probe's report line "probe <what>: ..." (without the prefix), or "" when
  // the probe did not report it.
  static std::string probe(const ChildRun& child, const std::string& what) {
    const std::string prefix = "probe " + what + ": ";
    auto at = child.out.find(prefix);
    if (at == std::string::npos) return "";
    at += prefix.size();
    return child.out.substr(at, child.out.find('\n', at) - at);
  }

  static std::string both(const ChildRun& child) { return "stdout:\n" + child.out + "\nstderr:\n" + child.err; }
};

TEST_F(Trellan, AsAToolRunsTheBundleAtOnceAndExitsWithItsResult) {
  for (const char* flag : {"-t", "--run-as-tool"}) {
    SCOPED_TRACE(flag);
    ChildRun passing = run({flag}, sampleBundle());
    EXPECT_EQ(passing.exitStatus, 0) << both(passing);
    EXPECT_THAT(passing.err, HasSubstr(kRunningTests));
    EXPECT_THAT(passing.out, AllOf(HasSubstr("Test Case 'TrellanSampleTests.testRunsOnTheMainThread' passed"),
                                   HasSubstr("Executed 3 tests, with 0 failures")));

    ChildRun failing = run({flag}, sampleBundle(), {{"TRELLAN_SAMPLE_FAIL", "1"}});
    EXPECT_EQ(failing.exitStatus, 1) << both(failing);
    EXPECT_THAT(failing.err, HasSubstr(kRunningTests));
    EXPECT_THAT(failing.out, AllOf(HasSubstr("Test Case 'TrellanSampleTests.testFailureOnRequest' failed"),
                                   HasSubstr("Executed 3 tests, with 1 failures")));
  }
}

TEST_F(Trellan, AsAToolHasNoApplicationLifeCycle) {
  ChildRun child = run({"--run-as-tool"}, probeBundle(), {{"QUORVEL_LAUNCH_STATE", "background"}});
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  // No delegate was made, so nothing asked for an assertion or observes the run,
  // and resigning active begins no background task.
  EXPECT_EQ(probe(child, "load"), "held=[] observers=0 state=0 delegate=none") << both(child);
  EXPECT_EQ(probe(child, "resign"), "state=0->1 tasks=0->0") << both(child);
  EXPECT_THAT(child.err, Not(HasSubstr(kBackgroundTask)));
}

TEST_F(Trellan, LaunchedInTheForegroundRunsTheTestsWithoutAnAssertion) {
  // An argument that merely begins like the tool flag still starts the application.
  ChildRun child = run({"-test"}, probeBundle() + ":" + sampleBundle());
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  EXPECT_THAT(child.err, HasSubstr(kRunningTests));
  EXPECT_THAT(child.err, Not(HasSubstr(kAssertionRefused)));
  EXPECT_EQ(probe(child, "load"), "held=[] observers=0 state=0 delegate=_TrellanAppDelegate property=none")
      << both(child);
  EXPECT_EQ(probe(child, "run"), "held=[] observers=0 state=0 delegate=_TrellanAppDelegate property=none")
      << both(child);
  EXPECT_THAT(child.out, HasSubstr("Executed 6 tests, with 0 failures"));
}

TEST_F(Trellan, ResigningActiveBeginsABackgroundTaskThatTheHostReports) {
  ChildRun child = run({}, probeBundle());
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  EXPECT_EQ(probe(child, "resign"), "state=0->1 tasks=0->1") << both(child);
  EXPECT_THAT(child.err, ContainsRegex(std::string(kBackgroundTask) + " [1-9][0-9]*\n"));
  EXPECT_THAT(child.err, Not(HasSubstr("background task expired!!!")));
}

TEST_F(Trellan, LaunchedInTheBackgroundHoldsTheAssertionUntilTheBundleStarts) {
  ChildRun child = run({}, probeBundle() + ":" + sampleBundle(), {{"QUORVEL_LAUNCH_STATE", "background"}});
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  EXPECT_THAT(child.err, HasSubstr(kRunningTests));
  EXPECT_THAT(child.err, Not(HasSubstr(kAssertionRefused)));
  // Before the bundle starts: the assertion for this process is held and the
  // delegate observes the run.
  EXPECT_EQ(probe(child, "load"),
            "held=[Trellan Initialization] observers=1 state=2 delegate=_TrellanAppDelegate property=pid:" +
                std::to_string(child.pid) + ",flags:1,reason:4,name:Trellan Initialization,valid:yes")
      << both(child);
  // Once it has started: released, forgotten, and no longer observing.
  EXPECT_EQ(probe(child, "run"), "held=[] observers=0 state=2 delegate=_TrellanAppDelegate property=none")
      << both(child);
  // In the background the application is not active, so it does not resign.
  EXPECT_EQ(probe(child, "resign"), "state=2->2 tasks=0->0") << both(child);
  EXPECT_THAT(child.out, HasSubstr("Executed 6 tests, with 0 failures"));
}

TEST_F(Trellan, ARefusedAssertionIsLoggedAndTheRunGoesOn) {
  ChildRun child = run({}, probeBundle() + ":" + sampleBundle(),
                       {{"QUORVEL_LAUNCH_STATE", "background"}, {"QUORVEL_ASSERTION_FAIL", "1"}});
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  auto refused = child.err.find(kAssertionRefused);
  auto running = child.err.find(kRunningTests);
  ASSERT_NE(refused, std::string::npos) << both(child);
  ASSERT_NE(running, std::string::npos) << both(child);
  EXPECT_LT(refused, running);
  EXPECT_EQ(probe(child, "load"),
            "held=[] observers=1 state=2 delegate=_TrellanAppDelegate property=pid:" + std::to_string(child.pid) +
                ",flags:1,reason:4,name:Trellan Initialization,valid:no")
      << both(child);
  EXPECT_EQ(probe(child, "run"), "held=[] observers=0 state=2 delegate=_TrellanAppDelegate property=none")
      << both(child);
}

TEST_F(Trellan, AFailingCaseFailsTheApplicationRun) {
  for (const char* launchState : {"foreground", "background"}) {
    SCOPED_TRACE(launchState);
    ChildRun child = run({}, sampleBundle(), {{"QUORVEL_LAUNCH_STATE", launchState}, {"TRELLAN_SAMPLE_FAIL", "1"}});
    EXPECT_EQ(child.exitStatus, 1) << both(child);
    EXPECT_THAT(child.out, HasSubstr("Test Case 'TrellanSampleTests.testFailureOnRequest' failed"));
  }
}

TEST_F(Trellan, ExportsItsVersionRecords) {
  ChildRun child = run({"-t"}, probeBundle());
  EXPECT_EQ(child.exitStatus, 0) << both(child);
  EXPECT_EQ(probe(child, "version"), "number=23149.7 string=@(#)PROGRAM:Trellan  PROJECT:XCTest-23149.7\\n")
      << both(child);
}

}  // namespace
