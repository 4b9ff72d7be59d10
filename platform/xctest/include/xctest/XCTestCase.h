// Test cases and test bundles.
//
// A test bundle is a shared library that exports one registration function,
// declared with XCT_TEST_BUNDLE, which adds named test cases to a registry:
//
//   XCT_TEST_BUNDLE(registry) {
//     registry.addTestCase("testAddition", [](XCTestCase& self) {
//       XCTAssertEqual(1 + 1, 2);
//     });
//   }
//
// A case fails when it records a failure (the XCTAssert macros, XCTFail) or lets
// an exception escape; a failed assertion does not stop the case.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "objc/runtime.h"

class XCTestCase;
using XCTestCaseBody = std::function<void(XCTestCase& self)>;

// One recorded failure of a test case.
struct XCTestFailure {
  std::string description;
  std::optional<std::string> filePath;
  unsigned long lineNumber = 0;
};

class XCTestCase : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XCTestCase)
 public:
  XCTestCase(std::string bundleName, std::string caseName);

  // "<bundle>.<case>"
  std::string name() const;
  const std::string& bundleName() const { return bundleName_; }
  const std::string& caseName() const { return caseName_; }

  // Records a failure and tells the observers at once. Safe from any thread.
  void recordFailure(const std::string& description, const std::optional<std::string>& filePath = std::nullopt,
                     unsigned long lineNumber = 0);
  std::vector<XCTestFailure> failures() const;
  bool hasSucceeded() const;

 private:
  const std::string bundleName_;
  const std::string caseName_;
  mutable std::mutex mutex_;
  std::vector<XCTestFailure> failures_;
};

// What a bundle's registration function fills.
class XCTestRegistry {
 public:
  // Adds a case; names are unique within a bundle (a second case of the same name,
  // or an empty name, raises NSInvalidArgumentException).
  void addTestCase(const std::string& name, XCTestCaseBody body);
  const std::vector<std::pair<std::string, XCTestCaseBody>>& testCases() const { return cases_; }

 private:
  std::vector<std::pair<std::string, XCTestCaseBody>> cases_;
};

// A loaded test bundle.
class XCTestBundle : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XCTestBundle)
 public:
  XCTestBundle(std::string bundlePath, std::vector<std::string> testCaseNames);

  const std::string& bundlePath() const { return bundlePath_; }
  // The file name without a "lib" prefix and without its extension.
  const std::string& bundleName() const { return bundleName_; }
  const std::vector<std::string>& testCaseNames() const { return testCaseNames_; }
  std::string description() const override;

 private:
  const std::string bundlePath_;
  const std::string bundleName_;
  const std::vector<std::string> testCaseNames_;
};

namespace xctest {
// The symbol every test bundle exports.
inline constexpr const char* kRegistrationSymbol = "qv_xctest_register";
using RegistrationFunction = void (*)(XCTestRegistry&);
}  // namespace xctest

#define XCT_TEST_BUNDLE(registry) \
  extern "C" __attribute__((visibility("default"))) void qv_xctest_register(XCTestRegistry& registry)

// Assertions for the body of a test case; they expect the case as `self`.
#define XCTFail(message) self.recordFailure(std::string("failed - ") + (message), __FILE__, __LINE__)
#define XCTAssertTrue(expression)                                                                   \
  do {                                                                                              \
    if (!(expression)) self.recordFailure("XCTAssertTrue failed: (" #expression ")", __FILE__, __LINE__); \
  } while (0)
#define XCTAssertFalse(expression)                                                                    \
  do {                                                                                                \
    if ((expression)) self.recordFailure("XCTAssertFalse failed: (" #expression ")", __FILE__, __LINE__); \
  } while (0)
#define XCTAssertEqual(a, b)                                                                                   \
  do {                                                                                                         \
    if (!((a) == (b)))                                                                                         \
      self.recordFailure("XCTAssertEqual failed: (" #a ") is not equal to (" #b ")", __FILE__, __LINE__);     \
  } while (0)
