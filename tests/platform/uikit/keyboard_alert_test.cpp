#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "touch_helpers.h"

namespace {

using uikittest::makeKeyWindow;

// Counts the touch events whose touch lies on the keyboard, through an exchanged
// sendEvent: (as an event-capturing hook would see them).
class KeyboardTouchCounter {
 public:
  KeyboardTouchCounter() {
    objc::Class* cls = UIApplication::classObject();
    static int* counter = nullptr;
    counter = &count_;
    cls->addMethod<void, std::shared_ptr<UIEvent>>("test_countKeyboardEvent:", [](objc::Object& self,
                                                                                 std::shared_ptr<UIEvent> event) {
      for (const auto& t : event->allTouches()) {
        std::string name = t->view() ? t->view()->className() : "";
        if (name.find("UIKeyboard") != std::string::npos && counter) ++*counter;
      }
      objc::msgSend<void, std::shared_ptr<UIEvent>>(self, "test_countKeyboardEvent:", event);
    });
    exchange();
  }
  ~KeyboardTouchCounter() { exchange(); }
  int count() const { return count_; }

 private:
  static void exchange() {
    objc::Class* cls = UIApplication::classObject();
    objc::method_exchangeImplementations(cls->getInstanceMethod("sendEvent:"),
                                         cls->getInstanceMethod("test_countKeyboardEvent:"));
  }
  int count_ = 0;
};

TEST(Keyboard, ShowsForTextInputInItsOwnWindowThatIsNeverKey) {
  auto window = makeKeyWindow();
  auto field = std::make_shared<UITextField>(CGRectMake(10, 100, 200, 30));
  window->addSubview(field);
  EXPECT_FALSE(UIKeyboard::isOnScreen());
  ASSERT_TRUE(field->becomeFirstResponder());
  EXPECT_TRUE(UIKeyboard::isOnScreen());
  auto keyboardWindow = UIKeyboard::keyboardWindow();
  EXPECT_FALSE(keyboardWindow->isHidden());
  EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), window);
  auto windows = UIApplication::sharedApplication()->windows();
  EXPECT_NE(std::find(windows.begin(), windows.end(), keyboardWindow), windows.end());
  auto layout = UIKeyboard::activeKeyboard()->layout();
  EXPECT_EQ(layout->className(), "UIKeyboardLayoutStar");
  auto key = layout->keyForCharacter("Q");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->className(), "UIKeyboardKeyView");
  EXPECT_EQ(key->keyName(), "q");
  // The key's hit test reaches the key view itself.
  std::shared_ptr<UIView> hit;
  CGPoint inKeyboard = uikittest::middleInWindow(key);
  UIApplication::sharedApplication()->_windowAtScreenPoint(
      {inKeyboard.x, inKeyboard.y + keyboardWindow->frame().origin.y}, &hit);
  EXPECT_EQ(hit, key);
  field->resignFirstResponder();
  EXPECT_FALSE(UIKeyboard::isOnScreen());
  EXPECT_TRUE(keyboardWindow->isHidden());
}

TEST(Keyboard, TypingTapsKeysThroughSendEventAndInsertsTheText) {
  auto window = makeKeyWindow();
  auto field = std::make_shared<UITextField>(CGRectMake(10, 100, 200, 30));
  window->addSubview(field);
  EXPECT_FALSE(UIKeyboard::typeText("x"));  // nothing to type into
  ASSERT_TRUE(field->becomeFirstResponder());
  int changes = 0;
  field->addAction([&](auto, auto) { ++changes; }, UIControlEventEditingChanged);
  {
    KeyboardTouchCounter counter;
    EXPECT_TRUE(UIKeyboard::typeText("Hi 5!"));
    // H (shift, h), i, space, 5: five taps of two events each; "!" has no key.
    EXPECT_EQ(counter.count(), 10);
  }
  EXPECT_EQ(field->text(), "Hi 5!");
  EXPECT_EQ(changes, 5);
  EXPECT_TRUE(UIKeyboard::typeText("\b\b"));
  EXPECT_EQ(field->text(), "Hi ");

  int ended = 0;
  field->addAction([&](auto, auto) { ++ended; }, UIControlEventEditingDidEndOnExit);
  EXPECT_TRUE(UIKeyboard::typeText("\nmore"));  // return ends the editing; the rest goes nowhere
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(field->text(), "Hi ");
}

TEST(Keyboard, TappingKeysTypesLikeAPerson) {
  auto window = makeKeyWindow();
  auto textView = std::make_shared<UITextView>(CGRectMake(0, 0, 300, 200));
  window->addSubview(textView);
  ASSERT_TRUE(textView->becomeFirstResponder());
  auto layout = UIKeyboard::activeKeyboard()->layout();
  auto keyWindow = UIKeyboard::keyboardWindow();
  for (const char* name : {"shift", "o", "k", "return"}) {
    uikittest::tap(keyWindow, uikittest::middleInWindow(layout->keyNamed(name)));
  }
  EXPECT_EQ(textView->text(), "Ok\n");
  textView->resignFirstResponder();
}

class AlertRecorder : public UIAlertViewDelegate {
 public:
  std::vector<std::string> log;
  void alertViewClickedButtonAtIndex(const std::shared_ptr<UIAlertView>&, long i) override {
    log.push_back("clicked" + std::to_string(i));
  }
  void alertViewWillDismissWithButtonIndex(const std::shared_ptr<UIAlertView>&, long i) override {
    log.push_back("will" + std::to_string(i));
  }
  void alertViewDidDismissWithButtonIndex(const std::shared_ptr<UIAlertView>&, long i) override {
    log.push_back("did" + std::to_string(i));
  }
};

TEST(AlertView, ShownInAnOverlayThatLeavesTheKeyWindowAlone) {
  auto window = makeKeyWindow();
  auto recorder = std::make_shared<AlertRecorder>();
  auto alert = std::make_shared<UIAlertView>("Title", "Message", recorder, "Cancel", std::vector<std::string>{"Ok"});
  EXPECT_EQ(alert->numberOfButtons(), 2);
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "Ok");
  EXPECT_FALSE(alert->isVisible());
  alert->show();
  EXPECT_TRUE(alert->isVisible());
  EXPECT_EQ(UIAlertView::_visibleAlerts(), (std::vector<std::shared_ptr<UIAlertView>>{alert}));
  auto overlay = UIAlertView::_alertWindow();
  EXPECT_EQ(alert->window(), overlay);
  EXPECT_FALSE(overlay->isHidden());
  EXPECT_EQ(overlay->windowLevel(), UIWindowLevelAlert);
  EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), window);
  EXPECT_EQ(alert->_titleLabel()->text(), "Title");
  EXPECT_EQ(alert->_messageLabel()->text(), "Message");
  auto buttons = alert->buttons();
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[1]->currentTitle(), "Ok");

  // The alert is on top: a touch elsewhere on the screen reaches the overlay, not the app.
  std::shared_ptr<UIView> hit;
  EXPECT_EQ(UIApplication::sharedApplication()->_windowAtScreenPoint({5, 5}, &hit), overlay);

  uikittest::tap(overlay, uikittest::middleInWindow(buttons[1]));
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked1", "will1", "did1"}));
  EXPECT_FALSE(alert->isVisible());
  EXPECT_TRUE(UIAlertView::_visibleAlerts().empty());
  EXPECT_TRUE(overlay->isHidden());
}

TEST(AlertView, DismissingByCodeTellsOnlyAboutTheDismissal) {
  auto recorder = std::make_shared<AlertRecorder>();
  auto first = std::make_shared<UIAlertView>(std::nullopt, "toast", nullptr, std::nullopt);
  auto second = std::make_shared<UIAlertView>(std::nullopt, "other", recorder, "Cancel");
  first->show();
  second->show();
  EXPECT_EQ(UIAlertView::_visibleAlerts().size(), 2u);
  EXPECT_TRUE(first->buttons().empty());
  second->dismissWithClickedButtonIndex(0, true);
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"will0", "did0"}));
  EXPECT_FALSE(UIAlertView::_alertWindow()->isHidden());  // the first is still shown
  first->dismissWithClickedButtonIndex(0, true);
  first->dismissWithClickedButtonIndex(0, true);  // a second dismissal does nothing
  EXPECT_TRUE(UIAlertView::_alertWindow()->isHidden());
}

}  // namespace
