#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/state/UIViewStorage.h"
#include "uikit/UIView.h"

namespace {

TEST(UIViewStorageTest, OneSharedStorageStartingAtKeyMinusOne) {
  auto storage = UIViewStorage::sharedObject();
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage, UIViewStorage::sharedObject());
  UIViewStorage fresh;
  EXPECT_EQ(fresh._key(), "-1");
  EXPECT_EQ(fresh.count(), 0u);
  EXPECT_TRUE(fresh._viewsStorageWithIdentifier().empty());
  EXPECT_TRUE(fresh._viewsStorageKey().empty());
}

TEST(UIViewStorageTest, KeysContinueFromTheLastIssuedAndResolveToTheirViews) {
  UIViewStorage storage;
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  auto c = std::make_shared<UIView>();
  EXPECT_EQ(storage.storeView(a, "GUID-A"), "0");
  EXPECT_EQ(storage.storeView(b, "GUID-B"), "1");
  EXPECT_EQ(storage._key(), "1");
  EXPECT_EQ(storage.viewForKey("0"), a);
  EXPECT_EQ(storage.viewForKey("1"), b);
  EXPECT_EQ(storage.identifierForKey("1"), "GUID-B");
  EXPECT_EQ(storage.viewForIdentifier("GUID-A"), a);
  EXPECT_EQ(storage.numberOfViews(), 2u);

  // A key set from outside is where the next one continues.
  storage.set_key("41");
  EXPECT_EQ(storage.storeView(c, "GUID-C"), "42");
  EXPECT_EQ(storage.viewForKey("42"), c);
  auto keys = storage._viewsStorageKey();
  EXPECT_EQ(keys, (UIViewStorage::IdentifiersByKey{{"0", "GUID-A"}, {"1", "GUID-B"}, {"42", "GUID-C"}}));

  // Unknown keys, and keys whose GUID holds no view, resolve to nothing.
  EXPECT_EQ(storage.viewForKey("2"), nullptr);
  EXPECT_EQ(storage.identifierForKey("-1"), std::nullopt);
  storage.setIdentifierForKey("7", "GUID-NOWHERE");
  EXPECT_EQ(storage.viewForKey("7"), nullptr);

  storage.setCount(3);
  EXPECT_EQ(storage.count(), 3u);
}

TEST(UIViewStorageTest, StoredViewsStayAliveWithTheStorage) {
  UIViewStorage storage;
  std::weak_ptr<UIView> weak;
  {
    auto view = std::make_shared<UIView>();
    weak = view;
    storage.setViewForIdentifier("GUID", view);
  }
  EXPECT_FALSE(weak.expired());
  EXPECT_EQ(storage._viewsStorageWithIdentifier().at("GUID"), weak.lock());
}

TEST(UIViewStorageTest, ConcurrentStoresIssueEveryKeyOnce) {
  UIViewStorage storage;
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  std::vector<std::vector<std::string>> issued(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&storage, &issued, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string guid = std::to_string(t) + "-" + std::to_string(i);
        issued[static_cast<std::size_t>(t)].push_back(storage.storeView(std::make_shared<UIView>(), guid));
        (void)storage._viewsStorageKey();
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> keys;
  for (const auto& list : issued) keys.insert(list.begin(), list.end());
  ASSERT_EQ(keys.size(), static_cast<std::size_t>(kThreads * kEach));
  for (int k = 0; k < kThreads * kEach; ++k) {
    EXPECT_TRUE(keys.count(std::to_string(k))) << k;
    EXPECT_NE(storage.viewForKey(std::to_string(k)), nullptr) << k;
  }
  EXPECT_EQ(storage._key(), std::to_string(kThreads * kEach - 1));
  EXPECT_EQ(storage.numberOfViews(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
