#include <algorithm>

#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "xctest/XCTestObservation.h"

QV_OBJC_DEFINE_CLASS(XCTestObservationCenter, objc::Object)

std::shared_ptr<XCTestObservationCenter> XCTestObservationCenter::sharedTestObservationCenter() {
  static dispatch_once_t once;
  static std::shared_ptr<XCTestObservationCenter>* shared = nullptr;
  dispatch_once(&once, [] {
    shared = new std::shared_ptr<XCTestObservationCenter>(std::make_shared<XCTestObservationCenter>());
  });
  return *shared;
}

void XCTestObservationCenter::addTestObserver(const std::shared_ptr<XCTestObservation>& observer) {
  if (!observer) return;
  std::lock_guard lock(mutex_);
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) observers_.push_back(observer);
}

void XCTestObservationCenter::removeTestObserver(const std::shared_ptr<XCTestObservation>& observer) {
  std::lock_guard lock(mutex_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

std::vector<std::shared_ptr<XCTestObservation>> XCTestObservationCenter::observers() const {
  std::lock_guard lock(mutex_);
  return observers_;
}

namespace {

// Calls `callback` on each observer; an observer that raises does not stop the run
// or keep the others from hearing of it.
template <class Callback>
void tellEach(const std::vector<std::shared_ptr<XCTestObservation>>& observers, const char* what,
              const Callback& callback) {
  for (const auto& observer : observers) {
    try {
      callback(*observer);
    } catch (const std::exception& e) {
      NSLog("Test observer raised an exception in %s: %s", what, e.what());
    } catch (...) {
      NSLog("Test observer raised an exception in %s", what);
    }
  }
}

}  // namespace

void XCTestObservationCenter::notifyTestBundleWillStart(const std::shared_ptr<XCTestBundle>& bundle) const {
  tellEach(observers(), "testBundleWillStart:", [&](XCTestObservation& o) { o.testBundleWillStart(bundle); });
}

void XCTestObservationCenter::notifyTestBundleDidFinish(const std::shared_ptr<XCTestBundle>& bundle) const {
  tellEach(observers(), "testBundleDidFinish:", [&](XCTestObservation& o) { o.testBundleDidFinish(bundle); });
}

void XCTestObservationCenter::notifyTestCaseWillStart(const std::shared_ptr<XCTestCase>& testCase) const {
  tellEach(observers(), "testCaseWillStart:", [&](XCTestObservation& o) { o.testCaseWillStart(testCase); });
}

void XCTestObservationCenter::notifyTestCaseDidFail(const std::shared_ptr<XCTestCase>& testCase,
                                                    const XCTestFailure& failure) const {
  tellEach(observers(), "testCase:didFailWithDescription:inFile:atLine:", [&](XCTestObservation& o) {
    o.testCaseDidFailWithDescription(testCase, failure.description, failure.filePath, failure.lineNumber);
  });
}

void XCTestObservationCenter::notifyTestCaseDidFinish(const std::shared_ptr<XCTestCase>& testCase) const {
  tellEach(observers(), "testCaseDidFinish:", [&](XCTestObservation& o) { o.testCaseDidFinish(testCase); });
}
