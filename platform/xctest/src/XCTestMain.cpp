#include "xctest/XCTestMain.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "foundation/format.h"
#include "objc/exception.h"
#include "xctest/XCTestCase.h"
#include "xctest/XCTestObservation.h"

namespace xctest {
namespace {

using Clock = std::chrono::steady_clock;

void printLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct LoadedBundle {
  std::shared_ptr<XCTestBundle> bundle;
  std::vector<std::pair<std::string, XCTestCaseBody>> cases;
};

// Loads the library at `path` and has it register its cases. The library stays
// loaded for the rest of the process: its cases may leave work behind.
std::optional<LoadedBundle> loadBundle(const std::string& path, std::string& error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = ::dlerror();
    error = reason ? reason : "unknown error";
    return std::nullopt;
  }
  auto registration = reinterpret_cast<RegistrationFunction>(::dlsym(handle, kRegistrationSymbol));
  if (!registration) {
    error = std::string("the library exports no ") + kRegistrationSymbol + " function";
    ::dlclose(handle);
    return std::nullopt;
  }
  XCTestRegistry registry;
  try {
    registration(registry);
  } catch (const std::exception& e) {
    error = std::string("registering its test cases raised: ") + e.what();
    return std::nullopt;
  } catch (...) {
    error = "registering its test cases raised an unknown exception";
    return std::nullopt;
  }
  LoadedBundle loaded;
  std::vector<std::string> names;
  for (const auto& entry : registry.testCases()) names.push_back(entry.first);
  loaded.bundle = std::make_shared<XCTestBundle>(path, std::move(names));
  loaded.cases = registry.testCases();
  return loaded;
}

bool runTestCase(const XCTestObservationCenter& center, const XCTestBundle& bundle, const std::string& caseName,
                 const XCTestCaseBody& body) {
  auto testCase = std::make_shared<XCTestCase>(bundle.bundleName(), caseName);
  printLine("Test Case '" + testCase->name() + "' started.");
  center.notifyTestCaseWillStart(testCase);
  const auto start = Clock::now();
  try {
    body(*testCase);
  } catch (const std::exception& e) {
    testCase->recordFailure(std::string("threw an uncaught exception: ") + e.what());
  } catch (...) {
    testCase->recordFailure("threw an unknown exception");
  }
  const double elapsed = secondsSince(start);
  for (const XCTestFailure& failure : testCase->failures()) {
    printLine(NSStringWithFormat("%@:%lu: error: %@ : %@", failure.filePath.value_or(bundle.bundlePath()),
                                 failure.lineNumber, testCase->name(), failure.description));
  }
  const bool passed = testCase->hasSucceeded();
  printLine(NSStringWithFormat("Test Case '%@' %s (%.3f seconds).", testCase->name(), passed ? "passed" : "failed",
                               elapsed));
  center.notifyTestCaseDidFinish(testCase);
  return passed;
}

}  // namespace

std::vector<std::string> testBundlePathsFromEnvironment() {
  std::vector<std::string> paths;
  const char* value = std::getenv(kTestBundlesVariable);
  if (!value) return paths;
  std::string list = value;
  std::size_t begin = 0;
  while (begin <= list.size()) {
    std::size_t end = list.find(':', begin);
    if (end == std::string::npos) end = list.size();
    if (end > begin) paths.push_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return paths;
}

int runTestBundles(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    printLine(std::string("error: no test bundles to run: ") + kTestBundlesVariable +
              " names none (colon-separated paths of test bundles)");
    return 1;
  }
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  const auto runStart = Clock::now();
  int executed = 0, failed = 0, unloadable = 0;
  for (const std::string& path : paths) {
    std::string error;
    std::optional<LoadedBundle> loaded = loadBundle(path, error);
    if (!loaded) {
      printLine("error: Failed to load test bundle '" + path + "': " + error);
      ++unloadable;
      continue;
    }
    const XCTestBundle& bundle = *loaded->bundle;
    printLine("Test Suite '" + bundle.bundleName() + "' started.");
    center->notifyTestBundleWillStart(loaded->bundle);
    const auto bundleStart = Clock::now();
    int bundleFailed = 0;
    for (const auto& [name, body] : loaded->cases) {
      if (!runTestCase(*center, bundle, name, body)) ++bundleFailed;
    }
    executed += static_cast<int>(loaded->cases.size());
    failed += bundleFailed;
    printLine(NSStringWithFormat("Test Suite '%@' %s. Executed %zu tests, with %d failures in %.3f seconds",
                                 bundle.bundleName(), bundleFailed == 0 ? "passed" : "failed", loaded->cases.size(),
                                 bundleFailed, secondsSince(bundleStart)));
    center->notifyTestBundleDidFinish(loaded->bundle);
  }
  std::string summary = NSStringWithFormat("Executed %d tests, with %d failures in %.3f seconds", executed, failed,
                                           secondsSince(runStart));
  if (unloadable > 0) summary += NSStringWithFormat("; %d test bundles could not be loaded", unloadable);
  printLine(summary);
  return failed == 0 && unloadable == 0 ? 0 : 1;
}

}  // namespace xctest

void _XCTestMain(void* /*arguments*/) {
  const int status = xctest::runTestBundles(xctest::testBundlePathsFromEnvironment());
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}
