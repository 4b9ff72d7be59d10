// Observation of a test run: observers registered with the shared observation
// centre are told when a bundle starts and finishes and when each case starts,
// fails and finishes. Callbacks come on the thread that runs the tests (failures:
// on the thread that recorded them), never under a lock of the centre, so an
// observer may add or remove observers (itself included) from a callback.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"
#include "xctest/XCTestCase.h"

// The observer protocol. Every callback is optional.
class XCTestObservation {
 public:
  virtual ~XCTestObservation() = default;
  virtual void testBundleWillStart(const std::shared_ptr<XCTestBundle>&) {}
  virtual void testBundleDidFinish(const std::shared_ptr<XCTestBundle>&) {}
  virtual void testCaseWillStart(const std::shared_ptr<XCTestCase>&) {}
  virtual void testCaseDidFailWithDescription(const std::shared_ptr<XCTestCase>&, const std::string& /*description*/,
                                              const std::optional<std::string>& /*filePath*/,
                                              unsigned long /*lineNumber*/) {}
  virtual void testCaseDidFinish(const std::shared_ptr<XCTestCase>&) {}
};

class XCTestObservationCenter : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XCTestObservationCenter)
 public:
  // The one centre of the process, created on first use.
  static std::shared_ptr<XCTestObservationCenter> sharedTestObservationCenter();

  // Adding an observer that is already registered does nothing. The centre keeps
  // its observers alive until they are removed.
  void addTestObserver(const std::shared_ptr<XCTestObservation>& observer);
  void removeTestObserver(const std::shared_ptr<XCTestObservation>& observer);
  std::vector<std::shared_ptr<XCTestObservation>> observers() const;

  // Used by the test run: tells every observer registered at the time of the call.
  void notifyTestBundleWillStart(const std::shared_ptr<XCTestBundle>& bundle) const;
  void notifyTestBundleDidFinish(const std::shared_ptr<XCTestBundle>& bundle) const;
  void notifyTestCaseWillStart(const std::shared_ptr<XCTestCase>& testCase) const;
  void notifyTestCaseDidFail(const std::shared_ptr<XCTestCase>& testCase, const XCTestFailure& failure) const;
  void notifyTestCaseDidFinish(const std::shared_ptr<XCTestCase>& testCase) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<XCTestObservation>> observers_;
};
