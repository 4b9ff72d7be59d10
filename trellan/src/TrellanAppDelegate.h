// The runner host's application delegate. It starts the test run once the launch
// has finished and, when the application was launched in the background, holds a
// process assertion until the test bundle starts so that the process is not
// suspended in between.
#pragma once

#include <atomic>
#include <memory>

#include "objc/runtime.h"
#include "uikit/UIApplicationDelegate.h"
#include "xctest/BKSProcessAssertion.h"
#include "xctest/XCTestObservation.h"

class _TrellanAppDelegate : public UIApplicationDelegate, public XCTestObservation {
  QV_OBJC_DECLARE_CLASS(_TrellanAppDelegate)
 public:
  _TrellanAppDelegate() = default;

  // application:didFinishLaunchingWithOptions: — starts the tests, in the
  // background manner when the application was launched in the background.
  bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& application,
                                     const std::map<std::string, std::any>& options) override;
  // Asks for a background task so that the run goes on after the application
  // leaves the foreground. The task is never ended here.
  void applicationWillResignActive(const std::shared_ptr<UIApplication>& application) override;

  // runTestsInBackground: — with YES, holds the process assertion and observes the
  // test run until its bundle starts; in every case schedules _TrellanRunTests() on
  // the main run loop in the common modes.
  void runTestsInBackground(bool inBackground);
  // Takes a process assertion for this process and keeps it in
  // temporaryProcessAssertion; a refusal is logged and otherwise ignored.
  void acquireTemporaryProcessAssertion();

  // XCTestObservation: the bundle is about to run, so the assertion has done its
  // job; releases it and stops observing.
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>& testBundle) override;

  // The assertion held during start-up, or nullptr (atomic, strong). Also
  // readable by key-value access under "temporaryProcessAssertion".
  std::shared_ptr<BKSProcessAssertion> temporaryProcessAssertion() const { return temporaryProcessAssertion_.load(); }
  void setTemporaryProcessAssertion(std::shared_ptr<BKSProcessAssertion> assertion) {
    temporaryProcessAssertion_.store(std::move(assertion));
  }

 private:
  std::atomic<std::shared_ptr<BKSProcessAssertion>> temporaryProcessAssertion_;
};
