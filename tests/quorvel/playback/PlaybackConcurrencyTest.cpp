// Playback commands on the main thread while the polling hook's recording walk and
// other walks run on background threads over the same screen.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "quorvel/bootstrap/RecordControl.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/state/GlobalVars.h"
#include "uikit/uikit.h"
#include "wait.h"

namespace {

JSONValue run(const std::string& function, std::optional<std::string> tag, std::optional<std::string> type,
              std::optional<std::string> value) {
  auto call = std::make_shared<FunctionCallObject>();
  call->setFunctionName(function);
  call->setTagName(std::move(tag));
  call->setAccessorType(std::move(type));
  call->setAccessorValue(std::move(value));
  return std::make_shared<UIViewFinder>()->parseFunctionCallObject(call);
}

TEST(PlaybackConcurrencyTest, CommandsOnTheMainThreadWhileThePollingHookWalks) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  for (int s = 0; s < 10; ++s) {
    auto section = std::make_shared<UIView>(CGRectMake(0, s * 80, 390, 80));
    window->addSubview(section);
    for (int r = 0; r < 6; ++r) {
      auto label = std::make_shared<UILabel>(CGRectMake(0, r * 12, 150, 12));
      label->setText("Row " + std::to_string(s) + "." + std::to_string(r));
      section->addSubview(label);
    }
  }
  auto target = std::make_shared<UIButton>(CGRectMake(200, 800, 120, 40));
  target->setTitle(std::string("Log In"), UIControlStateNormal);
  window->addSubview(target);
  window->makeKeyAndVisible();

  // The real polling hook, and its cycle body run back to back on another thread so
  // that the walks overlap the commands much more often than every 0.2 seconds.
  std::atomic<int> cycles{0};
  RecordControl::setCycleObserver([&cycles](bool started) {
    if (!started) ++cycles;
  });
  RecordControl::dispatchHook();
  std::atomic<bool> stop{false};
  std::thread pollingBody([&] {
    while (!stop) RecordControl::pollingCycle();
  });
  // The recorded-action thread's use of the visible-view list.
  std::thread stepBuilder([&] {
    while (!stop) VisibleViewList::getAllUIViewsAccordingToViewType(std::string("uilabel"));
  });

  auto sections = window->subviews();
  std::shared_ptr<UIView> previous;
  for (int i = 0; i < 150 || cycles < 5; ++i) {
    auto reply = run("findelements", "UIButton", "text", "Log In");
    ASSERT_EQ(reply.size(), 1u) << reply.dump();
    auto id = reply[0].at("elementID").get<std::string>();
    EXPECT_EQ(run("gettext", {}, {}, id), JSONValue::array({{{"output", "Log In"}}}));
    EXPECT_EQ(run("getwidth", {}, {}, id), JSONValue::array({{{"output", "120"}}}));
    run("highlight", {}, {}, id);
    EXPECT_FALSE(run("findelements", "UILabel", "partialtext", "row " + std::to_string(i % 10)).empty());
    // The screen changes under the walks; an added view stays for one round.
    auto section = sections[i % sections.size()];
    auto extra = std::make_shared<UILabel>(CGRectMake(200, 0, 50, 12));
    section->addSubview(extra);
    section->setHidden(i % 4 == 0);
    if (previous) previous->removeFromSuperview();
    previous = extra;
  }
  stop = true;
  pollingBody.join();
  stepBuilder.join();
  RecordControl::setCycleObserver(nullptr);

  // The recording walk gave every view shown to it its recording GUID.
  EXPECT_TRUE(ViewIdentity::getRecordingGUID(target));
  EXPECT_EQ(GlobalVars::sharedInstance()->_uiWindow(), window);
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
}

}  // namespace
