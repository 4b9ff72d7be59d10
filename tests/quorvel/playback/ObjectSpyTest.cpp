// The object spy on live views: which element a touch means, the spy list of that
// element and its ancestors as the step queue receives it, and the spy storage the
// recorder's highlight requests read. The storage and the step queue live for the
// whole process, so the tests compare against what was there before.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "quorvel/playback/ElementSpy.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"

namespace {

using UIView_ToolkitAdditions::TK_hasHighlightBorder;

template <class V = UIView>
std::shared_ptr<V> addView(const std::shared_ptr<UIView>& parent, CGRect frame, const std::string& identifier = "") {
  auto view = std::make_shared<V>(frame);
  if (!identifier.empty()) view->setAccessibilityIdentifier(identifier);
  parent->addSubview(view);
  return view;
}

// Spies a touch at `point` of `view` and returns the spy list it queued.
JSONValue spy(const std::shared_ptr<UIView>& view, CGPoint point) {
  EXPECT_EQ(RecorderQueue::get()->getLength(), 0u);
  EXPECT_TRUE(std::make_shared<ElementSpy>()->createSpyHierarchy(view, point));
  auto list = RecorderQueue::get()->dequeue();
  EXPECT_TRUE(list && list->is_array() && !list->empty());
  EXPECT_EQ(RecorderQueue::get()->getLength(), 0u) << "one entry per spy action";
  return list && list->is_array() && !list->empty() ? *list : JSONValue::array({JSONValue::object()});
}

// The identifier of the element a touch picks; the element is highlighted.
std::string picked(const std::shared_ptr<UIView>& view, CGPoint point) {
  const JSONValue element = spy(view, point)[0];
  return element.value("id", std::string("?"));
}

std::set<std::string> keysOf(const JSONValue& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

TEST(ObjectSpyTest, TheElementIsTheFrontMostDeepestViewStrictlyUnderTheFinger) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());

  // A label two containers down; a hidden view in front of it is not on screen.
  auto box = addView(window, CGRectMake(20, 20, 300, 140), "box");
  auto inner = addView(box, CGRectMake(10, 10, 200, 100), "inner");
  auto nested = addView<UILabel>(inner, CGRectMake(10, 10, 100, 30), "nested");
  nested->setText("Nested");
  addView(box, CGRectMake(0, 0, 300, 140), "cover")->setHidden(true);
  EXPECT_EQ(picked(box, {50, 35}), "nested");
  EXPECT_TRUE(TK_hasHighlightBorder(nested));
  EXPECT_FALSE(TK_hasHighlightBorder(box));
  EXPECT_EQ(picked(box, {150, 90}), "inner");

  // Of two overlapping siblings, the later one (drawn in front).
  auto pair = addView(window, CGRectMake(0, 180, 390, 150), "pair");
  addView(pair, CGRectMake(20, 10, 200, 100), "back");
  auto front = addView<UILabel>(pair, CGRectMake(120, 30, 200, 100), "front");
  EXPECT_EQ(picked(pair, {150, 60}), "front");
  EXPECT_EQ(picked(pair, {50, 20}), "back");
  // A view without text: no texts in its record, and named by its identifier.
  const JSONValue untitled = spy(pair, {300, 120})[0];
  EXPECT_FALSE(untitled.contains("elementText"));
  EXPECT_FALSE(untitled.contains("name"));
  EXPECT_EQ(untitled.at("logicalname"), "front");

  // A button is the element, even with the finger over its title label.
  auto button = addView<UIButton>(window, CGRectMake(20, 350, 200, 44), "button");
  button->setTitle("Go", UIControlStateNormal);
  window->layoutIfNeeded();
  ASSERT_EQ(button->titleLabel()->superview(), button);
  const CGPoint overTitle = button->titleLabel()->center();
  ASSERT_GT(button->titleLabel()->bounds().size.width, 0);
  const JSONValue pressed = spy(button, overTitle)[0];
  EXPECT_EQ(pressed.at("class"), "UIButton");
  EXPECT_EQ(pressed.at("logicalname"), "Go");

  // Edges belong to the view around them.
  auto edge = addView(window, CGRectMake(0, 410, 390, 100), "edge");
  addView(edge, CGRectMake(100, 20, 100, 50), "child");
  EXPECT_EQ(picked(edge, {100, 40}), "edge");
  EXPECT_EQ(picked(edge, {150, 20}), "edge");
  EXPECT_EQ(picked(edge, {200, 40}), "edge");
  EXPECT_EQ(picked(edge, {100.5, 40}), "child");

  // Rectangles are compared in the touched view's coordinates: a label inside a
  // scrolled scroll view is found where it shows, not where its frame says.
  auto holder = addView(window, CGRectMake(0, 530, 390, 150), "holder");
  auto scroll = addView<UIScrollView>(holder, CGRectMake(0, 0, 390, 150), "scroll");
  scroll->setContentSize(CGSizeMake(390, 1000));
  scroll->setContentOffset(CGPointMake(0, 100));
  addView<UILabel>(scroll, CGRectMake(20, 150, 200, 30), "far");
  EXPECT_EQ(picked(holder, {50, 65}), "far");
  EXPECT_EQ(picked(holder, {50, 20}), "scroll");
}

TEST(ObjectSpyTest, TheListDescribesTheElementAndEveryAncestorBelowTheWindowAndStoresThem) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  auto outer = addView(window, CGRectMake(0, 0, 390, 844));
  auto scroll = addView<UIScrollView>(outer, CGRectMake(10, 20, 300, 400), "scroller");
  scroll->setContentSize(CGSizeMake(300, 2000));
  scroll->setContentOffset(CGPointMake(0, 40));
  auto label = addView<UILabel>(scroll, CGRectMake(5, 50, 100, 30));
  label->setText("Three deep");
  label->setAccessibilityLabel("greeting");

  auto storage = UIViewStorage::sharedObject();
  const std::size_t storedBefore = storage->numberOfViews();
  const long keyBefore = std::stol(storage->_key());

  // The touch lands on the outer view, which no inventory walk has met: the spy's
  // own walk gives the views below it their xpaths, the outer view has none.
  const JSONValue list = spy(outer, {50, 45});
  ASSERT_EQ(list.size(), 3u) << list.dump(1);
  const JSONValue& described = list[0];
  const std::set<std::string> all{"tagName", "class", "id", "label", "elementText", "name", "mode",
                                  "logicalname", "xpath:position", "X", "Y", "height", "width", "parent"};
  EXPECT_EQ(keysOf(described), all);
  EXPECT_EQ(described.at("tagName"), "UILabel");
  EXPECT_EQ(described.at("class"), "UILabel");
  EXPECT_EQ(described.at("id"), "");
  EXPECT_EQ(described.at("label"), "greeting");
  EXPECT_EQ(described.at("elementText"), "Three deep");
  EXPECT_EQ(described.at("name"), "Three deep");
  EXPECT_EQ(described.at("mode"), "native");
  EXPECT_EQ(described.at("logicalname"), "Three deep");
  EXPECT_EQ(described.at("xpath:position"), "\\UIScrollView[0]\\UILabel[0]");
  EXPECT_EQ(described.at("X"), "0");
  EXPECT_EQ(described.at("width"), "100");
  EXPECT_EQ(described.at("height"), "30");
  EXPECT_EQ(described.at("parent"), (JSONValue{{"title", "UIScrollView"}, {"class", "UIScrollView"},
                                               {"id", "scroller"}, {"label", ""}, {"X", "0"}, {"Y", "40"},
                                               {"height", "400"}, {"width", "300"}}));

  // Each ancestor: its own bounds ("Y" is the scroll offset), and named by its
  // identifier or, without one, by its class.
  EXPECT_EQ(list[1].at("class"), "UIScrollView");
  EXPECT_EQ(list[1].at("Y"), "40");
  EXPECT_EQ(list[1].at("logicalname"), "scroller");
  EXPECT_EQ(list[1].at("xpath:position"), "\\UIScrollView[0]");
  EXPECT_EQ(list[1].at("parent").at("class"), "UIView");
  EXPECT_EQ(list[2].at("class"), "UIView");
  EXPECT_EQ(list[2].at("logicalname"), "UIView");
  EXPECT_FALSE(list[2].contains("xpath:position"));
  EXPECT_EQ(list[2].at("parent").at("title"), "UIWindow");
  EXPECT_EQ(list[2].at("parent").at("height"), "844");

  // Stored in the order described, under the next keys; the count is the list's.
  EXPECT_EQ(storage->numberOfViews(), storedBefore + 3);
  EXPECT_EQ(storage->count(), 3u);
  EXPECT_EQ(storage->_key(), std::to_string(keyBefore + 3));
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 1)), label);
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 2)), scroll);
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 3)), outer);

  // A second spy action goes on from there; the same views are stored again.
  const JSONValue again = spy(scroll, {250, 300});
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].at("id"), "scroller");
  EXPECT_EQ(storage->count(), 2u);
  EXPECT_EQ(storage->_key(), std::to_string(keyBefore + 5));
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 4)), scroll);
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 5)), outer);
  EXPECT_EQ(storage->viewForKey(std::to_string(keyBefore + 1)), label);
  EXPECT_EQ(storage->numberOfViews(), storedBefore + 5);

  EXPECT_FALSE(std::make_shared<ElementSpy>()->createSpyHierarchy(nullptr, {100, 200}));
  EXPECT_EQ(RecorderQueue::get()->getLength(), 0u);
}

}  // namespace
