// Replays the committed inputs of every fuzz target through the target's own code:
// the seed corpus and every input that once made a target fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace {

namespace fs = std::filesystem;

fs::path fuzzDir() {
  const char* source = std::getenv("QV_SOURCE_DIR");
  return fs::path(source ? source : ".") / "tests" / "fuzz";
}

std::vector<std::uint8_t> contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzRegressionTest, EveryCommittedInputPassesItsTarget) {
  ASSERT_TRUE(fs::is_directory(fuzzDir() / "corpus")) << fuzzDir();
  // Every target has seeds, and every input folder belongs to a target.
  for (const auto& [name, target] : qvfuzz::targets()) {
    EXPECT_TRUE(fs::is_directory(fuzzDir() / "corpus" / name)) << "no seeds for " << name;
  }
  int replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    if (!fs::is_directory(fuzzDir() / kind)) continue;
    for (const auto& folder : fs::directory_iterator(fuzzDir() / kind)) {
      const std::string name = folder.path().filename().string();
      auto it = qvfuzz::targets().find(name);
      ASSERT_NE(it, qvfuzz::targets().end()) << "inputs for an unknown target: " << folder.path();
      for (const auto& file : fs::directory_iterator(folder.path())) {
        SCOPED_TRACE(file.path().string());
        const auto bytes = contents(file.path());
        EXPECT_EQ(it->second(bytes.data(), bytes.size()), 0);
        ++replayed;
      }
    }
  }
  EXPECT_GE(replayed, static_cast<int>(qvfuzz::targets().size()));
}

}  // namespace
