// A small test bundle to run in the runner host:
//
//   QUORVEL_TEST_BUNDLES=build/lib/libTrellanSampleTests.so build/bin/trellan -t
//
// Every case passes, unless TRELLAN_SAMPLE_FAIL=1 asks testFailureOnRequest to
// fail, which shows what a failing run of the host looks like.
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/thread.h"
#include "xctest/XCTestCase.h"

namespace {

bool failureRequested() {
  const char* value = std::getenv("TRELLAN_SAMPLE_FAIL");
  return value && std::strcmp(value, "1") == 0;
}

}  // namespace

XCT_TEST_BUNDLE(registry) {
  registry.addTestCase("testArithmetic", [](XCTestCase& self) {
    XCTAssertEqual(6 * 7, 42);
    XCTAssertTrue(-1 < 0);
  });
  registry.addTestCase("testRunsOnTheMainThread", [](XCTestCase& self) { XCTAssertTrue(NSThread::isMainThread()); });
  registry.addTestCase("testFailureOnRequest", [](XCTestCase& self) {
    if (failureRequested()) XCTFail("TRELLAN_SAMPLE_FAIL=1 asked this case to fail");
    XCTAssertEqual(std::string("Trellan").size(), 7u);
  });
}
