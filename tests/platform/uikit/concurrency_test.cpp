#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "touch_helpers.h"
#include "wait.h"

namespace {

// Walks a hierarchy the way the inventory walks do: every read accessor, from a
// background thread.
std::size_t readTree(const std::shared_ptr<UIView>& view) {
  std::size_t n = 1;
  (void)view->frame();
  (void)view->bounds();
  (void)view->center();
  (void)view->isHidden();
  (void)view->alpha();
  (void)view->clipsToBounds();
  (void)view->isUserInteractionEnabled();
  (void)view->superview();
  (void)view->window();
  (void)view->className();
  (void)view->accessibilityIdentifier();
  (void)view->accessibilityValue();
  (void)view->gestureRecognizers();
  (void)view->isFirstResponder();
  (void)view->convertRectToView(view->bounds(), nullptr);
  auto layer = view->layer();
  (void)layer->borderWidth();
  (void)layer->borderColor();
  (void)layer->valueForKey("ZarvoUIVIewGuid");
  if (auto label = std::dynamic_pointer_cast<UILabel>(view)) (void)label->text();
  if (auto button = std::dynamic_pointer_cast<UIButton>(view)) (void)button->currentTitle();
  if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
    (void)field->text();
    (void)field->placeholder();
  }
  if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(view)) (void)control->accessibilityValue();
  if (auto toggle = std::dynamic_pointer_cast<UISwitch>(view)) (void)toggle->isOn();
  if (auto scroll = std::dynamic_pointer_cast<UIScrollView>(view)) (void)scroll->contentOffset();
  if (auto cell = std::dynamic_pointer_cast<UITableViewCell>(view)) (void)cell->text();
  for (const auto& child : view->subviews()) n += readTree(child);
  return n;
}

struct Rows : UITableViewDataSource {
  long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 200; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table, NSIndexPath ip) override {
    auto cell = table->dequeueReusableCellWithIdentifier("c");
    if (!cell) cell = std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, "c");
    cell->setText("row " + std::to_string(ip.row));
    return cell;
  }
};

TEST(UIKitConcurrency, BackgroundReadersWhileTheMainThreadMutates) {
  auto window = uikittest::makeKeyWindow();
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 390, 400));
  window->addSubview(container);
  auto table = std::make_shared<UITableView>(CGRectMake(0, 400, 390, 400));
  window->addSubview(table);
  auto rows = std::make_shared<Rows>();
  table->setDataSource(rows);
  table->layoutIfNeeded();
  auto segmented = std::make_shared<UISegmentedControl>(CGRectMake(0, 0, 200, 30));
  segmented->initWithItems({"A", "B"});
  container->addSubview(segmented);

  std::atomic<bool> stop{false};
  std::atomic<std::size_t> visited{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        visited += readTree(window);
        window->hitTest(CGPointMake(150, 15), nullptr);  // from a copy of each list, under the locks
      }
    });
  }

  for (int i = 0; i < 300; ++i) {
    auto label = std::make_shared<UILabel>(CGRectMake(i % 50, i % 70, 40, 20));
    label->setText("label " + std::to_string(i));
    container->addSubview(label);
    auto button = std::make_shared<UIButton>(CGRectMake(10, 10, 80, 30));
    button->setTitle("b" + std::to_string(i), UIControlStateNormal);
    label->addSubview(button);  // nested
    auto field = std::make_shared<UITextField>(CGRectMake(0, 40, 100, 30));
    container->addSubview(field);
    field->becomeFirstResponder();
    field->insertText("x");
    field->resignFirstResponder();
    container->setFrame(CGRectMake(0, i % 3, 390, 400));
    container->layer()->setBorderWidth(i % 5);
    container->layer()->setValueForKey("ZarvoUIVIewGuid", std::string("G") + std::to_string(i));
    segmented->setSelectedSegmentIndex(i % 2);
    table->setContentOffset({0, static_cast<double>((i * 37) % 4000)});
    table->layoutIfNeeded();
    label->setHidden(i % 2 == 0);
    // The main thread's own hit tests read the lists in place, beside the readers.
    auto hit = window->hitTest(CGPointMake(150, 15), nullptr);
    EXPECT_TRUE(hit && hit->isDescendantOfView(segmented)) << i;
    if (i % 3 == 0) {
      button->removeFromSuperview();
      field->removeFromSuperview();
    }
    if (i % 10 == 0) {
      for (const auto& v : container->subviews()) {
        if (v != segmented) v->removeFromSuperview();
      }
    }
  }
  // Let the readers make progress before stopping them.
  EXPECT_TRUE(qvtest::waitUntil([&] { return visited.load() > 1000; }));
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_GT(visited.load(), 0u);
}

TEST(UIKitConcurrency, ReadersOfLabelsAndLayersSeeWholeValues) {
  auto label = std::make_shared<UILabel>();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop.load()) {
      auto text = label->text();
      if (text && *text != "short" && *text != std::string(200, 'x')) ++bad;
      auto color = label->layer()->borderColor();
      if (!color) ++bad;
    }
  });
  for (int i = 0; i < 5000; ++i) {
    label->setText(i % 2 ? std::string("short") : std::string(200, 'x'));
    label->layer()->setBorderColor(i % 2 ? UIColor::greenColor()->CGColor() : UIColor::redColor()->CGColor());
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

// A reader on another thread holds views by plain pointer while the main thread
// takes them out of the hierarchy and drops its own references: they stay alive
// and readable until the last open reading ends, even when a later reading opened
// before the first one ended, and not a moment longer.
TEST(UIKitConcurrency, ViewsTakenOutDuringAReadingLiveUntilTheLastReadingEnds) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  auto box = std::make_shared<UIView>(CGRectMake(0, 0, 50, 50));
  auto inner = std::make_shared<UILabel>(CGRectMake(0, 0, 40, 10));
  inner->setText("inner");
  root->addSubview(box);
  box->addSubview(inner);
  const std::weak_ptr<UIView> boxLife = box, innerLife = inner;

  std::atomic<int> phase{0};
  std::string readAfterRemoval;
  std::thread reader([&] {
    auto first = std::make_unique<UIView::HierarchyReading>();
    std::vector<UIView*> level, below;
    root->appendSubviews(*first, level);
    level.at(0)->appendSubviews(*first, below);
    phase = 1;
    qvtest::waitUntil([&] { return phase == 2; });
    readAfterRemoval = static_cast<UILabel*>(below.at(0))->text().value_or("");
    auto second = std::make_unique<UIView::HierarchyReading>();
    first.reset();
    phase = 3;
    qvtest::waitUntil([&] { return phase == 4; });
    second.reset();
    phase = 5;
  });

  ASSERT_TRUE(qvtest::waitUntil([&] { return phase == 1; }));
  box->removeFromSuperview();
  box.reset();
  inner.reset();
  EXPECT_FALSE(boxLife.expired());
  EXPECT_FALSE(innerLife.expired());
  phase = 2;
  ASSERT_TRUE(qvtest::waitUntil([&] { return phase == 3; }));
  EXPECT_FALSE(boxLife.expired()) << "released while a reading was still open";
  phase = 4;
  ASSERT_TRUE(qvtest::waitUntil([&] { return phase == 5; }));
  reader.join();
  EXPECT_EQ(readAfterRemoval, "inner");
  EXPECT_TRUE(boxLife.expired());
  EXPECT_TRUE(innerLife.expired());

  // With no reading open, a view taken out ends with its last reference.
  auto other = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  root->addSubview(other);
  const std::weak_ptr<UIView> otherLife = other;
  other->removeFromSuperview();
  other.reset();
  EXPECT_TRUE(otherLife.expired());
}

}  // namespace
