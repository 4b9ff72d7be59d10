// Walks of several threads over one hierarchy (the polling hook's queue, the
// recorded-action thread and the main thread all walk the same views) while the
// main thread changes it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/XpathManager.h"
#include "uikit/uikit.h"

namespace {

// window > 8 sections > 8 rows > (label, button): 8 + 64 + 128 views.
std::shared_ptr<UIWindow> makeScreen() {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  for (int s = 0; s < 8; ++s) {
    auto section = std::make_shared<UIView>(CGRectMake(0, s * 100, 390, 100));
    window->addSubview(section);
    for (int r = 0; r < 8; ++r) {
      auto row = std::make_shared<UIView>(CGRectMake(0, r * 12, 390, 12));
      section->addSubview(row);
      row->addSubview(std::make_shared<UILabel>(CGRectMake(0, 0, 100, 12)));
      row->addSubview(std::make_shared<UIButton>(CGRectMake(100, 0, 100, 12)));
    }
  }
  return window;
}

std::string expectedXpath(const std::shared_ptr<UIView>& view) {
  std::string xpath;
  for (auto v = view; v && !v->isKindOfClass(UIWindow::classObject()); v = v->superview()) {
    long index = 0;
    for (const auto& sibling : v->superview()->subviews()) {
      if (sibling == v) break;
      if (sibling->className() == v->className()) ++index;
    }
    xpath = "\\" + v->className() + "[" + std::to_string(index) + "]" + xpath;
  }
  return xpath;
}

TEST(ModelConcurrencyTest, ConcurrentFirstWalksAttachOneGUIDPerViewWithFullXpaths) {
  for (int round = 0; round < 20; ++round) {
    auto window = makeScreen();
    std::atomic<int> ready{0};
    std::vector<std::thread> walkers;
    for (int t = 0; t < 4; ++t) {
      walkers.emplace_back([&, t] {
        ++ready;
        while (ready < 4) std::this_thread::yield();
        auto manager = std::make_shared<UIViewsManager>();
        if (t % 2 == 0) {
          manager->GetAllViews(window, true);
        } else {
          manager->GetAllViewsForPlayer(window, true);
        }
      });
    }
    for (auto& w : walkers) w.join();

    auto registry = XpathManager::sharedInstance();
    auto all = std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true);
    ASSERT_EQ(all.size(), 200u);
    for (const auto& view : all) {
      auto recording = ViewIdentity::getRecordingGUID(view);
      ASSERT_TRUE(recording);
      // Had two threads each attached a GUID, the registry would also know the
      // losing one, or the view's GUID would lack its registration.
      auto xpath = registry->getPositionXpathOfUIView(view);
      ASSERT_EQ(xpath, expectedXpath(view)) << "round " << round;
      auto registered = registry->getIdentificationGUIDFromXpath(xpath);
      EXPECT_TRUE(registered == recording || registered == ViewIdentity::getPlaybackGUID(view));
    }
  }
}

TEST(ModelConcurrencyTest, BackgroundWalksWhileTheMainThreadChangesTheHierarchy) {
  auto window = makeScreen();
  std::atomic<bool> stop{false};
  std::atomic<long> walks{0};
  std::vector<std::thread> walkers;
  for (int t = 0; t < 2; ++t) {
    walkers.emplace_back([&, t] {
      while (!stop) {
        auto manager = std::make_shared<UIViewsManager>();
        auto list = t == 0 ? manager->GetAllViews(window, true) : manager->GetAllViewsForPlayer(window, true);
        EXPECT_FALSE(list.empty());
        ++walks;
      }
    });
  }
  // The main thread keeps adding, hiding, highlighting and removing views; each
  // added view stays for one round, so the screen keeps its size.
  auto sections = window->subviews();
  std::shared_ptr<UIView> previous;
  for (int i = 0; i < 400 || walks < 20; ++i) {
    auto section = sections[i % sections.size()];
    auto extra = std::make_shared<UILabel>(CGRectMake(0, 0, 50, 10));
    section->addSubview(extra);
    section->setHidden(i % 3 == 0);
    extra->layer()->setBorderWidth(4.0);
    extra->layer()->setBorderColor(CGColorCreateSRGB(0, 1, 0, 1));
    if (previous) previous->removeFromSuperview();
    previous = extra;
  }
  stop = true;
  for (auto& w : walkers) w.join();
  EXPECT_GE(walks.load(), 20);
}

}  // namespace
