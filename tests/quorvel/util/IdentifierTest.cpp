#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/util/Utilities.h"

namespace {

TEST(IdentifierTest, GUIDsAreCanonicalUpperCaseAndUniqueAcrossThreads) {
  const std::regex canonical("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kEach; ++i) made[static_cast<std::size_t>(t)].push_back(Utilities::getGUIDString());
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (const auto& list : made) {
    for (const auto& guid : list) {
      EXPECT_TRUE(std::regex_match(guid, canonical)) << guid;
      all.insert(guid);
    }
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
