// Starts the test machinery the way a runner host does, with an observer that
// reports bundle starts and ends on standard output.
#include <cstdio>
#include <memory>

#include "xctest/XCTestMain.h"
#include "xctest/XCTestObservation.h"

namespace {

class BundleReporter : public XCTestObservation {
 public:
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>& bundle) override {
    std::printf("observer: testBundleWillStart %s\n", bundle->bundleName().c_str());
    std::fflush(stdout);
  }
  void testBundleDidFinish(const std::shared_ptr<XCTestBundle>& bundle) override {
    std::printf("observer: testBundleDidFinish %s\n", bundle->bundleName().c_str());
    std::fflush(stdout);
  }
};

}  // namespace

int main() {
  XCTestObservationCenter::sharedTestObservationCenter()->addTestObserver(std::make_shared<BundleReporter>());
  _XCTestMain(nullptr);
  __builtin_trap();  // _XCTestMain ends the process
}
