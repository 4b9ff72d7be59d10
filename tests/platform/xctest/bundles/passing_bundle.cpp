// A test bundle whose cases all pass.
#include <atomic>
#include <thread>

#include "xctest/XCTestCase.h"

XCT_TEST_BUNDLE(registry) {
  registry.addTestCase("testArithmetic", [](XCTestCase& self) {
    XCTAssertEqual(2 + 2, 4);
    XCTAssertTrue(3 > 2);
    XCTAssertFalse(2 > 3);
  });
  registry.addTestCase("testWorkOnAnotherThread", [](XCTestCase& self) {
    std::atomic<int> result{0};
    std::thread worker([&] { result = 42; });
    worker.join();
    XCTAssertEqual(result.load(), 42);
  });
}
