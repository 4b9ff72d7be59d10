// A test bundle that reports, on standard output, what the runner host has set up
// around the test run: the process assertions held, the test observers, the host
// delegate's temporaryProcessAssertion, the application's state and background
// tasks, and the host's version records. Its registration runs when the bundle is
// loaded, before the bundle starts (and before observers hear testBundleWillStart);
// its cases run after. One case makes the application resign active.
#include <dlfcn.h>

#include <any>
#include <cstdio>
#include <string>

#include "foundation/format.h"
#include "uikit/UIApplication.h"
#include "uikit/UIApplicationDelegate.h"
#include "xctest/BKSProcessAssertion.h"
#include "xctest/XCTestCase.h"
#include "xctest/XCTestObservation.h"

namespace {

void report(const std::string& line) {
  std::fputs(("probe " + line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string heldAssertions() {
  std::string list;
  for (const std::string& name : BKSProcessAssertion::heldAssertionNames()) {
    list += (list.empty() ? "" : ",") + name;
  }
  return "held=[" + list + "]";
}

std::string observerCount() {
  return NSStringWithFormat("observers=%zu", XCTestObservationCenter::sharedTestObservationCenter()->observers().size());
}

// The delegate's class and its temporaryProcessAssertion, read by key-value access.
std::string delegateReport() {
  auto delegate = UIApplication::sharedApplication()->delegate();
  if (!delegate) return "delegate=none";
  std::string text = "delegate=" + delegate->className();
  std::any value;
  try {
    value = delegate->valueForKey("temporaryProcessAssertion");
  } catch (const std::exception&) {
    return text + " property=unknown";
  }
  auto assertion = std::any_cast<std::shared_ptr<BKSProcessAssertion>>(value);
  if (!assertion) return text + " property=none";
  return text + NSStringWithFormat(" property=pid:%d,flags:%u,reason:%u,name:%@,valid:%s", assertion->pid(),
                                   assertion->flags(), assertion->reason(), assertion->name(),
                                   assertion->valid() ? "yes" : "no");
}

std::string applicationState() {
  return NSStringWithFormat("state=%ld", static_cast<long>(UIApplication::sharedApplication()->applicationState()));
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

}  // namespace

XCT_TEST_BUNDLE(registry) {
  report("load: " + heldAssertions() + " " + observerCount() + " " + applicationState() + " " + delegateReport());

  registry.addTestCase("testReportDuringRun", [](XCTestCase& self) {
    report("run: " + heldAssertions() + " " + observerCount() + " " + applicationState() + " " + delegateReport());
    XCTAssertTrue(true);
  });

  registry.addTestCase("testResignActive", [](XCTestCase& self) {
    auto app = UIApplication::sharedApplication();
    const long stateBefore = app->applicationState();
    const std::size_t tasksBefore = app->_backgroundTaskCount();
    app->_resignActive();
    report(NSStringWithFormat("resign: state=%ld->%ld tasks=%zu->%zu", stateBefore,
                              static_cast<long>(app->applicationState()), tasksBefore, app->_backgroundTaskCount()));
    XCTAssertTrue(true);
  });

  registry.addTestCase("testVersionRecords", [](XCTestCase& self) {
    const auto* number = static_cast<const double*>(::dlsym(RTLD_DEFAULT, "_TrellanVersionNumber"));
    const auto* text = static_cast<const char*>(::dlsym(RTLD_DEFAULT, "_TrellanVersionString"));
    report("version: number=" + (number ? NSStringWithFormat("%.1f", *number) : std::string("missing")) +
           " string=" + (text ? escaped(text) : std::string("missing")));
    XCTAssertTrue(number != nullptr);
    XCTAssertTrue(text != nullptr);
  });
}
