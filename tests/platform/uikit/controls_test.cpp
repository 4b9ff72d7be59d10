#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "touch_helpers.h"

namespace {

using uikittest::Finger;
using uikittest::makeKeyWindow;
using uikittest::tap;

TEST(Controls, ButtonRunsTouchUpInsideOnlyWhenTheTouchEndsInside) {
  auto window = makeKeyWindow();
  auto button = UIButton::buttonWithType(UIButtonTypeSystem);
  button->setFrame(CGRectMake(50, 50, 100, 40));
  button->setTitle("Save", UIControlStateNormal);
  button->setTitle("Saving", UIControlStateHighlighted);
  window->addSubview(button);
  std::vector<std::string> events;
  button->addAction([&](auto, auto) { events.push_back("down"); }, UIControlEventTouchDown);
  button->addAction([&](auto, auto) { events.push_back("inside"); }, UIControlEventTouchUpInside);
  button->addAction([&](auto, auto) { events.push_back("outside"); }, UIControlEventTouchUpOutside);
  EXPECT_EQ(button->currentTitle(), "Save");
  EXPECT_EQ(button->titleLabel()->text(), "Save");

  Finger finger(window, {100, 70});
  EXPECT_TRUE(button->isHighlighted());
  EXPECT_EQ(button->currentTitle(), "Saving");
  EXPECT_EQ(button->titleLabel()->text(), "Saving");
  finger.lift();
  EXPECT_FALSE(button->isHighlighted());
  EXPECT_EQ(button->titleLabel()->text(), "Save");
  EXPECT_EQ(events, (std::vector<std::string>{"down", "inside"}));

  events.clear();
  uikittest::drag(window, {100, 70}, {300, 300});
  EXPECT_EQ(events, (std::vector<std::string>{"down", "outside"}));

  events.clear();
  button->setEnabled(false);
  tap(window, {100, 70});
  EXPECT_TRUE(events.empty());
  button->setEnabled(true);
  button->sendActionsForControlEvents(UIControlEventTouchUpInside | UIControlEventTouchDown);
  EXPECT_EQ(events, (std::vector<std::string>{"down", "inside"}));
}

TEST(Controls, SwitchTogglesOnATapAndSetOnRunsNoActions) {
  auto window = makeKeyWindow();
  auto toggle = std::make_shared<UISwitch>(CGRectMake(20, 20, 0, 0));
  EXPECT_EQ(toggle->frame().size, (CGSize{51, 31}));
  window->addSubview(toggle);
  int changes = 0;
  toggle->addAction([&](auto control, auto) {
    ++changes;
    EXPECT_EQ(control, toggle);
  }, UIControlEventValueChanged);
  EXPECT_FALSE(toggle->isOn());
  tap(window, {40, 30});
  EXPECT_TRUE(toggle->isOn());
  EXPECT_EQ(changes, 1);
  toggle->setOn(false);
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(objc::msgSend<bool>(*toggle, "isOn") == toggle->isOn());
  // A tap that slides off the switch before lifting does not toggle it.
  uikittest::drag(window, {40, 30}, {200, 300});
  EXPECT_FALSE(toggle->isOn());
}

TEST(Controls, SwitchStateGoesThroughTheMethodTable) {
  auto window = makeKeyWindow();
  objc::Class* custom = objc::Class::allocateClassPair(UISwitch::classObject(), "InvertedTestSwitch");
  ASSERT_NE(custom, nullptr);
  // The subclass answers isOn from its own table entry.
  int asked = 0;
  custom->addMethod<bool>("isOn", [&](objc::Object& self) {
    ++asked;
    return static_cast<UISwitch&>(self)._isOnValue();
  });
  auto toggle = objc::makeInstanceOf<UISwitch>(custom, CGRectMake(0, 0, 51, 31));
  window->addSubview(toggle);
  tap(window, {10, 10});  // the tap reads the state through the table
  EXPECT_GE(asked, 1);
  EXPECT_TRUE(toggle->_isOnValue());
}

TEST(Controls, SegmentedControlSelectsTheTappedSegment) {
  auto window = makeKeyWindow();
  auto control = std::make_shared<UISegmentedControl>(CGRectMake(0, 100, 300, 32));
  control->initWithItems({"A", "B", "C"});
  window->addSubview(control);
  control->layoutIfNeeded();
  EXPECT_EQ(control->numberOfSegments(), 3u);
  EXPECT_EQ(control->selectedSegmentIndex(), -1);
  EXPECT_FALSE(control->accessibilityValue());
  auto subviews = control->subviews();
  ASSERT_EQ(subviews.size(), 3u);
  for (const auto& s : subviews) EXPECT_EQ(s->className(), "UISegment");
  EXPECT_EQ(std::dynamic_pointer_cast<UISegment>(subviews[1])->label()->text(), "B");
  EXPECT_EQ(subviews[2]->frame(), CGRectMake(200, 0, 100, 32));

  int changes = 0;
  control->addAction([&](auto, auto) { ++changes; }, UIControlEventValueChanged);
  EXPECT_EQ(tap(window, {150, 116}), control);  // segments let the control take the touch
  EXPECT_EQ(control->selectedSegmentIndex(), 1);
  EXPECT_EQ(control->accessibilityValue(), "B");
  EXPECT_EQ(changes, 1);
  tap(window, {150, 116});
  EXPECT_EQ(changes, 1);  // unchanged selection: no event
  tap(window, {290, 116});
  EXPECT_EQ(control->selectedSegmentIndex(), 2);
  EXPECT_EQ(changes, 2);

  EXPECT_EQ(control->titleForSegmentAtIndex(0), "A");
  EXPECT_FALSE(control->titleForSegmentAtIndex(3));
  control->setSelectedSegmentIndex(7);
  EXPECT_EQ(control->selectedSegmentIndex(), -1);
  control->insertSegmentWithTitle(std::nullopt, 0, false);
  EXPECT_EQ(control->numberOfSegments(), 4u);
  EXPECT_FALSE(control->titleForSegmentAtIndex(0));
  control->removeSegmentAtIndex(0, false);
  EXPECT_EQ(control->subviews().size(), 3u);
}

TEST(Controls, TextFieldBecomesFirstResponderOnATapAndReportsTypedText) {
  auto window = makeKeyWindow();
  auto field = std::make_shared<UITextField>(CGRectMake(10, 10, 200, 30));
  field->setPlaceholder("Name");
  window->addSubview(field);
  EXPECT_EQ(field->text(), "");
  EXPECT_EQ(field->placeholder(), "Name");
  std::vector<std::string> log;
  int token = NSNotificationCenter::defaultCenter().addObserverForName(
      std::string(UITextFieldTextDidChangeNotification), field, [&](const NSNotification& n) {
        log.push_back("notified:" + *std::static_pointer_cast<UITextField>(n.object)->text());
      });
  field->addAction([&](auto, auto) { log.push_back("changed"); }, UIControlEventEditingChanged);
  field->addAction([&](auto, auto) { log.push_back("begin"); }, UIControlEventEditingDidBegin);

  tap(window, {50, 20});
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(UIKeyboard::isOnScreen());
  field->insertText("Al");
  field->insertText("é");
  field->deleteBackward();
  field->setText("Bob");  // no notification, no action
  field->setText(std::nullopt);
  EXPECT_EQ(field->text(), "");
  EXPECT_EQ(log, (std::vector<std::string>{"begin", "notified:Al", "changed", "notified:Alé", "changed",
                                           "notified:Al", "changed"}));
  log.clear();
  field->deleteBackward();  // nothing to delete: nothing posted
  EXPECT_TRUE(log.empty());
  NSNotificationCenter::defaultCenter().removeObserver(token);

  EXPECT_TRUE(field->resignFirstResponder());
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(UIKeyboard::isOnScreen());
  field->setEnabled(false);
  EXPECT_FALSE(field->becomeFirstResponder());
}

TEST(Controls, TextViewTakesTextWhenEditable) {
  auto window = makeKeyWindow();
  auto textView = std::make_shared<UITextView>(CGRectMake(0, 0, 200, 100));
  window->addSubview(textView);
  int posts = 0;
  int token = NSNotificationCenter::defaultCenter().addObserverForName(
      std::string(UITextViewTextDidChangeNotification), textView, [&](const NSNotification&) { ++posts; });
  tap(window, {50, 50});
  EXPECT_TRUE(textView->isFirstResponder());
  textView->insertText("line");
  EXPECT_EQ(textView->text(), "line");
  EXPECT_EQ(posts, 1);
  textView->setEditable(false);
  EXPECT_FALSE(textView->isFirstResponder());
  EXPECT_FALSE(textView->becomeFirstResponder());
  NSNotificationCenter::defaultCenter().removeObserver(token);
}

TEST(Controls, LabelTextMayBeAbsent) {
  auto label = std::make_shared<UILabel>();
  EXPECT_FALSE(label->text());
  EXPECT_FALSE(label->isUserInteractionEnabled());
  label->setText("");
  EXPECT_EQ(label->text(), "");
  label->setText("Hello");
  label->setFontSize(20);
  EXPECT_GT(label->sizeThatFits({0, 0}).width, 0);
  label->setText(std::nullopt);
  EXPECT_FALSE(label->text());
  EXPECT_EQ(label->sizeThatFits({0, 0}), CGSizeZero);
}

TEST(Controls, PickerColumnsSelectTappedRows) {
  struct Source : UIPickerViewDataSource, UIPickerViewDelegate {
    long numberOfComponentsInPickerView(const std::shared_ptr<UIPickerView>&) override { return 2; }
    long numberOfRowsInComponent(const std::shared_ptr<UIPickerView>&, long c) override { return c == 0 ? 5 : 3; }
    std::optional<std::string> titleForRow(const std::shared_ptr<UIPickerView>&, long row, long c) override {
      return "r" + std::to_string(row) + "c" + std::to_string(c);
    }
    void didSelectRow(const std::shared_ptr<UIPickerView>&, long row, long c) override { picked.push_back({row, c}); }
    std::vector<std::pair<long, long>> picked;
  };
  auto window = makeKeyWindow();
  auto picker = std::make_shared<UIPickerView>(CGRectMake(0, 0, 300, 216));
  window->addSubview(picker);
  auto source = std::make_shared<Source>();
  picker->setDataSource(source);
  picker->setDelegate(source);
  auto columns = picker->_columns();
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0]->className(), "UIPickerColumnView");
  EXPECT_EQ(picker->numberOfRowsInComponent(0), 5);
  EXPECT_EQ(columns[1]->rowLabels()[2]->text(), "r2c1");
  EXPECT_EQ(picker->selectedRowInComponent(0), 0);
  // The row below the middle one.
  tap(window, {75, 108 + UIPickerView::kRowHeight});
  EXPECT_EQ(picker->selectedRowInComponent(0), 1);
  EXPECT_EQ(source->picked, (std::vector<std::pair<long, long>>{{1, 0}}));
  picker->selectRow(2, 1, false);
  EXPECT_EQ(picker->selectedRowInComponent(1), 2);
  picker->selectRow(9, 1, false);  // out of range: ignored
  EXPECT_EQ(picker->selectedRowInComponent(1), 2);
}

}  // namespace
