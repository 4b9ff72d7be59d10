#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

// The inventory walk reads texts on a background thread while the main thread
// changes the same views; every read sees one complete state.
TEST(ViewReadersConcurrencyTest, BackgroundReadsWhileTheMainThreadChangesTheViews) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 320, 480));
  auto label = std::make_shared<UILabel>();
  auto field = std::make_shared<UITextField>();
  auto button = std::make_shared<UIButton>();
  auto control = std::make_shared<UISegmentedControl>()->initWithItems({"A", "B"});
  for (const std::shared_ptr<UIView>& v : std::initializer_list<std::shared_ptr<UIView>>{label, field, button, control}) {
    root->addSubview(v);
  }
  label->setText("one");
  field->setPlaceholder("Name");

  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::atomic<int> unexpected{0};
  std::thread reader([&] {
    const std::set<std::string> labelTexts{"one", "two"};
    const std::set<std::string> fieldTexts{"Name", "x", "xy"};
    const std::set<std::string> joined{"A;B", "A;B;C", "A;B;(null)"};
    while (!stop.load()) {
      for (const auto& v : root->subviews()) {
        (void)Utilities::getUIViewText(v);
        (void)Utilities::getUIViewClassName(v);
        (void)Utilities::getUIViewAccesibilityLabel(v);
      }
      auto l = Utilities::getUIViewTextForPlayBack(label);
      auto f = Utilities::getUIViewTextForPlayBack(field);
      auto s = Utilities::getUIViewTextForPlayBack(control);
      if (!l || !labelTexts.count(*l)) ++unexpected;
      if (!f || !fieldTexts.count(*f)) ++unexpected;
      if (!s || !joined.count(*s)) ++unexpected;
      ++reads;
    }
  });

  for (int i = 0; i < 300; ++i) {
    label->setText(i % 2 ? "one" : "two");
    field->setText(i % 3 == 0 ? "" : (i % 3 == 1 ? "x" : "xy"));
    button->setTitle(i % 2 ? std::optional<std::string>("Go") : std::nullopt, UIControlStateNormal);
    if (i % 2) {
      control->insertSegmentWithTitle("C", 2, false);
    } else if (control->numberOfSegments() > 2) {
      control->removeSegmentAtIndex(2, false);
    }
    control->setSelectedSegmentIndex(i % 3 - 1);
    label->setAccessibilityValue(i % 2 ? std::optional<std::string>("v") : std::nullopt);
  }
  while (reads.load() < 50) std::this_thread::yield();
  stop = true;
  reader.join();
  EXPECT_EQ(unexpected.load(), 0);
}

}  // namespace
