#include "TrellanAppDelegate.h"

#include <any>

#include "Trellan.h"
#include "foundation/process_info.h"
#include "foundation/runloop.h"
#include "uikit/UIApplication.h"
#include "xctest/XCTDefaultLog.h"

namespace {

// What the process-assertion service is asked for while the tests start up.
constexpr unsigned kInitializationAssertionFlags = 1;
constexpr unsigned kInitializationAssertionReason = 4;
constexpr const char* kInitializationAssertionName = "Trellan Initialization";

}  // namespace

// The class is registered under its own name so that UIApplicationMain can make
// the delegate from "_TrellanAppDelegate"; the property is in the method table for
// key-value access.
QV_OBJC_DEFINE_CLASS(_TrellanAppDelegate, UIApplicationDelegate, [](objc::Class* c) {
  c->addMethod<std::any>("temporaryProcessAssertion", [](objc::Object& self) -> std::any {
    return static_cast<_TrellanAppDelegate&>(self).temporaryProcessAssertion();
  });
  c->addMethod<void, std::any>("setTemporaryProcessAssertion:", [](objc::Object& self, std::any value) {
    std::shared_ptr<BKSProcessAssertion> assertion;
    if (value.has_value()) assertion = std::any_cast<std::shared_ptr<BKSProcessAssertion>>(value);
    static_cast<_TrellanAppDelegate&>(self).setTemporaryProcessAssertion(std::move(assertion));
  });
})

bool _TrellanAppDelegate::didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& application,
                                                        const std::map<std::string, std::any>&) {
  runTestsInBackground(application->applicationState() == UIApplicationStateBackground);
  return true;
}

void _TrellanAppDelegate::runTestsInBackground(bool inBackground) {
  if (inBackground) {
    acquireTemporaryProcessAssertion();
    XCTestObservationCenter::sharedTestObservationCenter()->addTestObserver(
        std::static_pointer_cast<_TrellanAppDelegate>(shared_from_this()));
  }
  CFRunLoopPerformBlock(CFRunLoopGetMain(), kCFRunLoopCommonModes, [] { _TrellanRunTests(); });
}

void _TrellanAppDelegate::acquireTemporaryProcessAssertion() {
  auto assertion =
      BKSProcessAssertion::initWithPID(NSProcessInfo::processInfo()->processIdentifier(), kInitializationAssertionFlags,
                                       kInitializationAssertionReason, kInitializationAssertionName);
  setTemporaryProcessAssertion(assertion);
  if (!assertion->acquire()) {
    XCTDefaultLog()->error("Failed to acquire temporary process assertion. Execution may be interrupted.");
  }
}

void _TrellanAppDelegate::testBundleWillStart(const std::shared_ptr<XCTestBundle>&) {
  if (auto assertion = temporaryProcessAssertion_.exchange(nullptr)) assertion->invalidate();
  XCTestObservationCenter::sharedTestObservationCenter()->removeTestObserver(
      std::static_pointer_cast<_TrellanAppDelegate>(shared_from_this()));
}

void _TrellanAppDelegate::applicationWillResignActive(const std::shared_ptr<UIApplication>& application) {
  UIBackgroundTaskIdentifier task = application->beginBackgroundTaskWithExpirationHandler(
      [] { XCTDefaultLog()->error("background task expired!!!"); });
  XCTDefaultLog()->log("Continuing to run tests in the background with task ID %lu", task);
}
