#include "Trellan.h"

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/process_info.h"
#include "objc/runtime.h"
#include "uikit/UIApplication.h"
#include "xctest/XCTDefaultLog.h"
#include "xctest/XCTestMain.h"

void _TrellanRunTests() {
  XCTDefaultLog()->log("Running tests...");
  _XCTestMain(nullptr);
  __builtin_trap();  // _XCTestMain ends the process
}

int TrellanMain(int argc, char** argv) {
  if (objc::Class::named("UIApplication")) {
    const std::vector<std::string> arguments = NSProcessInfo::processInfo()->arguments();
    const bool runAsTool = std::any_of(arguments.begin(), arguments.end(),
                                       [](const std::string& a) { return a == "-t" || a == "--run-as-tool"; });
    if (!runAsTool) return UIApplicationMain(argc, argv, std::nullopt, std::string("_TrellanAppDelegate"));
  }
  _TrellanRunTests();
}
