// A test bundle with one passing and two failing cases.
#include <stdexcept>

#include "xctest/XCTestCase.h"

XCT_TEST_BUNDLE(registry) {
  registry.addTestCase("testPasses", [](XCTestCase& self) { XCTAssertTrue(true); });
  registry.addTestCase("testFailingAssertions", [](XCTestCase& self) {
    XCTAssertEqual(1 + 1, 3);
    XCTFail("reached the end");  // a failed assertion does not stop the case
  });
  registry.addTestCase("testThrows", [](XCTestCase&) { throw std::runtime_error("boom"); });
}
