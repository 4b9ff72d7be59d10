#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "quorvel/state/GlobalVars.h"

namespace {

// A fresh instance, so that tests do not depend on what others stored in the shared one.
std::shared_ptr<GlobalVars> freshVars() { return std::make_shared<GlobalVars>(); }

TEST(GlobalVarsTest, EveryMemberStartsAbsent) {
  auto vars = freshVars();
  EXPECT_EQ(vars->_editAbleElement(), nullptr);
  EXPECT_EQ(vars->_uiWindow(), nullptr);
  EXPECT_EQ(vars->_uiWindow_Dialog(), nullptr);
  EXPECT_FALSE(vars->_hybridRecordedSteps().has_value());
  EXPECT_EQ(vars->_currentWebView(), nullptr);
  EXPECT_FALSE(vars->_spyMode().has_value());
  EXPECT_FALSE(vars->_isPlaybackStarted().has_value());
  EXPECT_FALSE(vars->_webViewBase64Image().has_value());
  EXPECT_FALSE(vars->_viewControllerLoaded().has_value());
  EXPECT_EQ(vars->_currentUIWindow(), nullptr);
  // Absent equals none of the flag texts, so an unset mode behaves as recording mode.
  EXPECT_FALSE(vars->_spyMode() == std::string("true"));
  EXPECT_FALSE(vars->_spyMode() == std::string("false"));
}

TEST(GlobalVarsTest, FlagsAreExactCaseSensitiveTextsAndCanBeClearedAgain) {
  auto vars = freshVars();
  vars->set_spyMode("TRUE");
  EXPECT_FALSE(vars->_spyMode() == std::string("true"));
  vars->set_spyMode("true");
  EXPECT_TRUE(vars->_spyMode() == std::string("true"));
  vars->set_hybridRecordedSteps("");
  ASSERT_TRUE(vars->_hybridRecordedSteps().has_value());  // empty is not absent
  EXPECT_EQ(*vars->_hybridRecordedSteps(), "");
  vars->set_hybridRecordedSteps(std::nullopt);
  EXPECT_FALSE(vars->_hybridRecordedSteps().has_value());
  vars->set_currentUIWindow(GlobalVars::classObject());
  EXPECT_EQ(vars->_currentUIWindow(), GlobalVars::classObject());
}

TEST(GlobalVarsTest, SharedInstanceIsCreatedOnceUnderConcurrentFirstCalls) {
  std::vector<std::thread> threads;
  std::vector<GlobalVars*> seen(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([i, &seen] { seen[static_cast<std::size_t>(i)] = GlobalVars::sharedInstance().get(); });
  }
  for (auto& t : threads) t.join();
  std::set<GlobalVars*> distinct(seen.begin(), seen.end());
  EXPECT_EQ(distinct.size(), 1u);
  EXPECT_NE(*distinct.begin(), nullptr);
}

// Four threads replace and read the members for one second. Every value a reader sees
// must be one that a writer stored, whole; ThreadSanitizer checks the rest.
TEST(GlobalVarsTest, ConcurrentReadersSeeWholeValues) {
  auto vars = freshVars();
  const std::vector<std::string> texts = {std::string(1000, 'a'), std::string(10, 'b'), "true", "false"};
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::atomic<long> reads{0};
  auto worker = [&](int id) {
    std::size_t n = static_cast<std::size_t>(id);
    while (!stop) {
      const std::string& mine = texts[n++ % texts.size()];
      vars->set_spyMode(mine);
      vars->set_hybridRecordedSteps(n % 3 == 0 ? std::nullopt : std::optional<std::string>(mine));
      vars->set_currentUIWindow(n % 2 ? GlobalVars::classObject() : nullptr);
      for (auto value : {vars->_spyMode(), vars->_hybridRecordedSteps()}) {
        if (value && std::find(texts.begin(), texts.end(), *value) == texts.end()) ++torn;
      }
      ++reads;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(worker, i);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the test's duration, not a wait for a condition
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 100);
}

}  // namespace
