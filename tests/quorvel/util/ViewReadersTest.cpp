#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

using Text = std::optional<std::string>;

// An application's own view class, made at run time as the device would load it.
template <class T = UIView>
std::shared_ptr<T> makeCustom(const std::string& className, objc::Class* super = T::classObject()) {
  objc::Class* cls = objc::Class::named(className);
  if (!cls) cls = objc::Class::allocateClassPair(super, className);
  return objc::makeInstanceOf<T>(cls);
}

TEST(ViewReadersTest, ClassNameIsTheRunTimeClassOfAnyObject) {
  EXPECT_EQ(Utilities::getUIViewClassName(std::make_shared<UILabel>()), "UILabel");
  EXPECT_EQ(Utilities::getUIViewClassName(makeCustom("MyToggleSwitch")), "MyToggleSwitch");
  EXPECT_EQ(Utilities::getUIViewClassName(std::make_shared<UITabBarItem>()), "UITabBarItem");
  EXPECT_EQ(Utilities::getUIViewClassName(nullptr), std::nullopt);
}

TEST(ViewReadersTest, AccessibilityTextsAreNeverAbsent) {
  auto view = std::make_shared<UIView>();
  EXPECT_EQ(Utilities::getUIViewAccesibilityId(view), "");
  EXPECT_EQ(Utilities::getUIViewAccesibilityLabel(view), "");
  EXPECT_EQ(Utilities::getUIViewAccesibilityId(nullptr), "");

  view->setAccessibilityIdentifier("login.button");
  view->setAccessibilityHint("hint");
  EXPECT_EQ(Utilities::getUIViewAccesibilityId(view), "login.button");
  EXPECT_EQ(Utilities::getUIViewAccesibilityLabel(view), "hint");
  view->setAccessibilityLabel("label");
  EXPECT_EQ(Utilities::getUIViewAccesibilityLabel(view), "label");
  // A present value wins even when it is empty.
  view->setAccessibilityValue("");
  EXPECT_EQ(Utilities::getUIViewAccesibilityLabel(view), "");

  auto item = std::make_shared<UIBarButtonItem>();
  item->setAccessibilityIdentifier("done.item");
  EXPECT_EQ(Utilities::getUIViewAccesibilityId(item), "done.item");
}

TEST(ViewReadersTest, TextFieldRecordsItsPlaceholderAndPlaysBackWhatWasTyped) {
  auto field = std::make_shared<UITextField>();
  field->setPlaceholder("Email");
  EXPECT_EQ(Utilities::getUIViewText(field), "Email");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(field), "Email");

  field->insertText("me@example.com");
  EXPECT_EQ(Utilities::getUIViewText(field), "Email");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(field), "me@example.com");

  // Nothing typed and no placeholder: the playback text stays absent rather than
  // falling through to the accessibility texts.
  auto bare = std::make_shared<UITextField>();
  bare->setAccessibilityLabel("field");
  EXPECT_EQ(Utilities::getUIViewText(bare), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(bare), std::nullopt);
}

TEST(ViewReadersTest, AbsentLabelTextIsAbsentWhenRecordingAndFallsThroughInPlayback) {
  auto label = std::make_shared<UILabel>();
  label->setAccessibilityLabel("Greeting");
  EXPECT_EQ(Utilities::getUIViewText(label), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(label), "Greeting");
  label->setAccessibilityValue("Hello there");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(label), "Hello there");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(std::make_shared<UILabel>()), "");

  // An empty text is a text: both readers give it.
  label->setText("");
  EXPECT_EQ(Utilities::getUIViewText(label), "");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(label), "");
  label->setText("Hi");
  EXPECT_EQ(Utilities::getUIViewText(label), "Hi");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(label), "Hi");
}

TEST(ViewReadersTest, ButtonsCellsAndTextViews) {
  auto button = std::make_shared<UIButton>();
  button->setAccessibilityLabel("Send");
  EXPECT_EQ(Utilities::getUIViewText(button), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(button), "Send");
  button->setTitle("Submit", UIControlStateNormal);
  EXPECT_EQ(Utilities::getUIViewText(button), "Submit");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(button), "Submit");

  auto cell = std::make_shared<UITableViewCell>();
  cell->setText("Row 1");
  EXPECT_EQ(Utilities::getUIViewText(cell), "Row 1");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(cell), "Row 1");

  auto textView = std::make_shared<UITextView>();
  textView->setText("Notes");
  EXPECT_EQ(Utilities::getUIViewText(textView), "Notes");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(textView), "Notes");
  // Inside a text view, a view without a text of its own plays back the text view's.
  auto inner = std::make_shared<UILabel>();
  auto plain = std::make_shared<UIView>();
  textView->addSubview(inner);
  textView->addSubview(plain);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(inner), "Notes");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(plain), "Notes");
  EXPECT_EQ(Utilities::getUIViewText(plain), "");  // recording reads its accessibility texts
}

TEST(ViewReadersTest, BarItemsReadTheirTitles) {
  auto navItem = std::make_shared<UINavigationItem>("Settings");
  auto barItem = std::make_shared<UIBarButtonItem>("Done", UIBarButtonItemStyleDone);
  auto tabItem = std::make_shared<UITabBarItem>("Home", nullptr, 0);
  for (const objc::id& item : std::initializer_list<objc::id>{navItem, barItem, tabItem}) {
    EXPECT_EQ(Utilities::getUIViewText(item), Utilities::getUIViewTextForPlayBack(item)) << item->className();
  }
  EXPECT_EQ(Utilities::getUIViewText(navItem), "Settings");
  EXPECT_EQ(Utilities::getUIViewText(barItem), "Done");
  EXPECT_EQ(Utilities::getUIViewText(tabItem), "Home");

  // Without a title: absent when recording, the accessibility texts in playback.
  auto untitled = std::make_shared<UIBarButtonItem>();
  untitled->setAccessibilityLabel("Add");
  EXPECT_EQ(Utilities::getUIViewText(untitled), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(untitled), "Add");
  auto untitledTab = std::make_shared<UITabBarItem>();
  EXPECT_EQ(Utilities::getUIViewText(untitledTab), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(untitledTab), "");
}

TEST(ViewReadersTest, SegmentedControlRecordsTheSelectionAndPlaysBackAllTitles) {
  auto control = std::make_shared<UISegmentedControl>()->initWithItems({"A", "B"});
  EXPECT_EQ(control->subviews().size(), 2u);
  EXPECT_EQ(Utilities::getUIViewText(control), std::nullopt);  // nothing selected
  control->setSelectedSegmentIndex(1);
  EXPECT_EQ(Utilities::getUIViewText(control), "B");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(control), "A;B");

  // A view whose superview is a segmented control (a segment) records the selected title.
  auto segment = control->subviews()[0];
  EXPECT_EQ(Utilities::getUIViewText(segment), "B");
  control->setSelectedSegmentIndex(UISegmentedControlNoSegment);
  EXPECT_EQ(Utilities::getUIViewText(segment), std::nullopt);

  // The joined titles run over the subviews, not the segments.
  control->addSubview(std::make_shared<UIView>());
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(control), "A;B;(null)");
  auto lone = std::make_shared<UISegmentedControl>()->initWithItems({"X", "Y", "Z"});
  lone->subviews()[2]->removeFromSuperview();
  lone->subviews()[1]->removeFromSuperview();
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(lone), "X");
}

TEST(ViewReadersTest, SegmentedControlNamesAreMatchedByTheLowerCasedClassName) {
  // An application's subclass of the control, and a child of it.
  auto custom = makeCustom<UISegmentedControl>("MyFancySegmentedControl");
  custom->initWithItems({"Day", "Week"});
  custom->setSelectedSegmentIndex(0);
  auto child = makeCustom("SegmentBadgeView");
  custom->addSubview(child);
  EXPECT_EQ(Utilities::getUIViewText(child), "Day");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(custom), "Day;Week;(null)");

  // A class that only carries the name has no segment titles: the accessibility texts.
  auto impostor = makeCustom("PseudoSegmentedControlBar");
  impostor->setAccessibilityLabel("Tabs");
  auto inside = makeCustom("PseudoSegmentItem");
  impostor->addSubview(inside);
  inside->setAccessibilityHint("first");
  EXPECT_EQ(Utilities::getUIViewText(inside), "first");
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(impostor), "Tabs");
}

TEST(ViewReadersTest, NoObjectHasNoText) {
  EXPECT_EQ(Utilities::getUIViewText(nullptr), std::nullopt);
  EXPECT_EQ(Utilities::getUIViewTextForPlayBack(nullptr), std::nullopt);
}

}  // namespace
