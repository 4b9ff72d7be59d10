#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "xctest/XCTestMain.h"
#include "xctest/XCTestObservation.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ChildRun {
  int exitStatus = -1;
  std::string output;
};

// Runs the driver (which calls _XCTestMain) with the bundle list `bundles`.
ChildRun runDriver(const std::string& bundles) {
  std::string command = std::string("QUORVEL_TEST_BUNDLES='") + bundles + "' '" + MAIN_DRIVER + "' 2>&1";
  ChildRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = ::pclose(pipe);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::size_t positionOf(const std::string& text, const std::string& part) {
  auto at = text.find(part);
  EXPECT_NE(at, std::string::npos) << "missing: " << part << "\nin:\n" << text;
  return at;
}

TEST(XCTestMainProcess, PassingBundleExitsZeroAndObserversSeeTheBundleStart) {
  ChildRun run = runDriver(PASSING_BUNDLE);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  auto start = positionOf(run.output, "observer: testBundleWillStart xctest_passing_bundle");
  auto firstCase = positionOf(run.output, "Test Case 'xctest_passing_bundle.testArithmetic' passed (");
  positionOf(run.output, "Test Case 'xctest_passing_bundle.testWorkOnAnotherThread' passed (");
  auto finish = positionOf(run.output, "observer: testBundleDidFinish xctest_passing_bundle");
  EXPECT_LT(start, firstCase);
  EXPECT_LT(firstCase, finish);
  EXPECT_THAT(run.output, HasSubstr("Executed 2 tests, with 0 failures"));
}

TEST(XCTestMainProcess, FailingBundleMakesTheRunFail) {
  ChildRun run = runDriver(std::string(PASSING_BUNDLE) + ":" + FAILING_BUNDLE);
  EXPECT_NE(run.exitStatus, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("observer: testBundleWillStart xctest_failing_bundle"));
  EXPECT_THAT(run.output, HasSubstr("Test Case 'xctest_failing_bundle.testPasses' passed ("));
  EXPECT_THAT(run.output, HasSubstr("Test Case 'xctest_failing_bundle.testFailingAssertions' failed ("));
  EXPECT_THAT(run.output, HasSubstr("error: xctest_failing_bundle.testFailingAssertions : XCTAssertEqual failed: "
                                    "(1 + 1) is not equal to (3)"));
  EXPECT_THAT(run.output, HasSubstr("failed - reached the end"));
  EXPECT_THAT(run.output, HasSubstr("xctest_failing_bundle.testThrows : threw an uncaught exception: boom"));
  EXPECT_THAT(run.output, HasSubstr("Executed 5 tests, with 2 failures"));
}

TEST(XCTestMainProcess, BundlesThatCannotBeLoadedFailTheRunWithAClearMessage) {
  ChildRun missing = runDriver(std::string("/nonexistent/libnothing.so:") + PASSING_BUNDLE);
  EXPECT_NE(missing.exitStatus, 0);
  EXPECT_THAT(missing.output, HasSubstr("error: Failed to load test bundle '/nonexistent/libnothing.so': "));
  EXPECT_THAT(missing.output, HasSubstr("Test Case 'xctest_passing_bundle.testArithmetic' passed"));  // others run

  ChildRun plain = runDriver(PLAIN_LIBRARY);
  EXPECT_NE(plain.exitStatus, 0);
  EXPECT_THAT(plain.output, HasSubstr("exports no qv_xctest_register function"));
  EXPECT_THAT(plain.output, Not(HasSubstr("observer: testBundleWillStart")));

  ChildRun none = runDriver("");
  EXPECT_NE(none.exitStatus, 0);
  EXPECT_THAT(none.output, HasSubstr("no test bundles to run"));
}

// Records every callback as a line.
class Recorder : public XCTestObservation {
 public:
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>& b) override { add("bundle start " + b->bundleName()); }
  void testBundleDidFinish(const std::shared_ptr<XCTestBundle>& b) override { add("bundle finish " + b->bundleName()); }
  void testCaseWillStart(const std::shared_ptr<XCTestCase>& c) override { add("case start " + c->name()); }
  void testCaseDidFailWithDescription(const std::shared_ptr<XCTestCase>& c, const std::string& description,
                                      const std::optional<std::string>& file, unsigned long line) override {
    add("case fail " + c->name() + " " + description + (file && line > 0 ? " @line" : " @nowhere"));
  }
  void testCaseDidFinish(const std::shared_ptr<XCTestCase>& c) override {
    add("case finish " + c->name() + (c->hasSucceeded() ? " passed" : " failed"));
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 protected:
  void add(std::string e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(XCTestRun, ObserversHearEveryStepInOrder) {
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  auto recorder = std::make_shared<Recorder>();
  center->addTestObserver(recorder);
  center->addTestObserver(recorder);  // once only
  EXPECT_EQ(xctest::runTestBundles({FAILING_BUNDLE}), 1);
  center->removeTestObserver(recorder);
  EXPECT_EQ(recorder->events(),
            (std::vector<std::string>{
                "bundle start xctest_failing_bundle",
                "case start xctest_failing_bundle.testPasses",
                "case finish xctest_failing_bundle.testPasses passed",
                "case start xctest_failing_bundle.testFailingAssertions",
                "case fail xctest_failing_bundle.testFailingAssertions XCTAssertEqual failed: (1 + 1) is not equal to "
                "(3) @line",
                "case fail xctest_failing_bundle.testFailingAssertions failed - reached the end @line",
                "case finish xctest_failing_bundle.testFailingAssertions failed",
                "case start xctest_failing_bundle.testThrows",
                "case fail xctest_failing_bundle.testThrows threw an uncaught exception: boom @nowhere",
                "case finish xctest_failing_bundle.testThrows failed",
                "bundle finish xctest_failing_bundle",
            }));
  EXPECT_EQ(xctest::runTestBundles({PASSING_BUNDLE}), 0);
  EXPECT_EQ(recorder->events().size(), 11u);  // removed: hears nothing more
}

// Stops observing when the first bundle starts, as a runner host that only
// watches for the start of the run does.
class OneShot : public Recorder, public std::enable_shared_from_this<OneShot> {
 public:
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>& b) override {
    Recorder::testBundleWillStart(b);
    XCTestObservationCenter::sharedTestObservationCenter()->removeTestObserver(shared_from_this());
  }
};

class Thrower : public XCTestObservation {
 public:
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>&) override { throw std::runtime_error("observer"); }
};

TEST(XCTestRun, ObserverMayRemoveItselfAndARaisingObserverStopsNothing) {
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  auto thrower = std::make_shared<Thrower>();
  auto oneShot = std::make_shared<OneShot>();
  center->addTestObserver(thrower);
  center->addTestObserver(oneShot);
  EXPECT_EQ(xctest::runTestBundles({PASSING_BUNDLE, PASSING_BUNDLE}), 0);
  center->removeTestObserver(thrower);
  EXPECT_EQ(oneShot->events(), std::vector<std::string>{"bundle start xctest_passing_bundle"});
  EXPECT_TRUE(center->observers().empty());
}

TEST(XCTestRun, BundlePathsComeFromTheEnvironment) {
  ::setenv(xctest::kTestBundlesVariable, "/a/libone.so::/b/two.xctest:", 1);
  EXPECT_EQ(xctest::testBundlePathsFromEnvironment(), (std::vector<std::string>{"/a/libone.so", "/b/two.xctest"}));
  ::unsetenv(xctest::kTestBundlesVariable);
  EXPECT_TRUE(xctest::testBundlePathsFromEnvironment().empty());
  EXPECT_EQ(XCTestBundle("/b/two.xctest", {}).bundleName(), "two");
  EXPECT_EQ(XCTestBundle("/a/libone.so", {}).bundleName(), "one");
}

TEST(XCTestRun, RegistryRefusesNamelessAndRepeatedCases) {
  XCTestRegistry registry;
  registry.addTestCase("testOne", [](XCTestCase&) {});
  EXPECT_THROW(registry.addTestCase("testOne", [](XCTestCase&) {}), objc::NSException);
  EXPECT_THROW(registry.addTestCase("", [](XCTestCase&) {}), objc::NSException);
  EXPECT_THROW(registry.addTestCase("testEmpty", nullptr), objc::NSException);
  EXPECT_EQ(registry.testCases().size(), 1u);
}

}  // namespace
