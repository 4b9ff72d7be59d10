// The test run. _XCTestMain loads the test bundles named in QUORVEL_TEST_BUNDLES
// (paths separated by colons), runs every case of each on the calling thread,
// prints one result line per case on standard output, tells the observers, and
// ends the process: exit status 0 when every case of every bundle passed, 1 when
// a case failed, a bundle could not be loaded or no bundle was named.
#pragma once

#include <string>
#include <vector>

namespace xctest {

inline constexpr const char* kTestBundlesVariable = "QUORVEL_TEST_BUNDLES";

// The bundle paths named in QUORVEL_TEST_BUNDLES, empty entries left out.
std::vector<std::string> testBundlePathsFromEnvironment();
// Runs the bundles at `paths` as _XCTestMain does and returns the exit status
// instead of ending the process.
int runTestBundles(const std::vector<std::string>& paths);

}  // namespace xctest

// Runs the tests and ends the process with the run's result; `arguments` is
// unused. Returns only if ending the process failed.
void _XCTestMain(void* arguments);
