#include "class_support.h"
#include "uikit/UIKeyboard.h"

#include <algorithm>
#include <cctype>

#include "foundation/notification_center.h"
#include "foundation/process_info.h"
#include "text_support.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIKeyInput.h"
#include "uikit/UIKeyboardKeyView.h"
#include "uikit/UIKeyboardLayoutStar.h"
#include "uikit/UIRemoteKeyboardWindow.h"
#include "uikit/UIScreen.h"
#include "uikit/UITextField.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UIKeyboard, UIView)
QV_OBJC_DEFINE_CLASS(UIKeyboardLayoutStar, UIView)
QV_OBJC_DEFINE_CLASS(UIKeyboardKeyView, UIView)
QV_OBJC_DEFINE_CLASS(UIRemoteKeyboardWindow, UIWindow)

namespace {

const std::vector<std::vector<std::string>>& keyRows() {
  static const std::vector<std::vector<std::string>> rows = {
      {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"},
      {"q", "w", "e", "r", "t", "y", "u", "i", "o", "p"},
      {"a", "s", "d", "f", "g", "h", "j", "k", "l"},
      {"shift", "z", "x", "c", "v", "b", "n", "m", "delete"},
      {"-", ".", ",", "@", "space", "return"},
  };
  return rows;
}

bool isAsciiLetter(const std::string& s) { return s.size() == 1 && std::isalpha(static_cast<unsigned char>(s[0])); }

std::shared_ptr<UIResponder> currentResponder() { return UIApplication::sharedApplication()->_firstResponder(); }

UIKeyInput* asKeyInput(const std::shared_ptr<UIResponder>& responder) {
  return dynamic_cast<UIKeyInput*>(responder.get());
}

// A tap (began, then ended) at the middle of `view`, delivered through the
// application's sendEvent: as a finger's would be.
void tapView(const std::shared_ptr<UIView>& view) {
  auto window = view->window();
  if (!window) return;
  CGRect b = view->bounds();
  CGPoint point = view->convertPointToView({b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2}, nullptr);
  auto app = UIApplication::sharedApplication();
  auto touch = std::make_shared<UITouch>();
  touch->setWindow(window);
  touch->setTapCount(1);
  touch->_setLocationInWindow(point, true);
  touch->setView(window->hitTest(point, nullptr));
  touch->setPhase(UITouchPhaseBegan);
  touch->_setIsFirstTouchForView(true);
  touch->setIsTap(true);
  touch->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
  auto event = app->_touchesEvent();
  event->_clearTouches();
  event->_addTouch(touch, false);
  event->_setTimestamp(touch->timestamp());
  app->sendEvent(event);
  touch->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
  touch->setPhase(UITouchPhaseEnded);
  event->_setTimestamp(touch->timestamp());
  app->sendEvent(event);
}

struct KeyboardState {
  std::mutex mutex;
  std::shared_ptr<UIRemoteKeyboardWindow> window;
  std::shared_ptr<UIKeyboard> keyboard;
  bool shown = false;
};

KeyboardState& state() {
  static auto* s = new KeyboardState;  // never destroyed
  return *s;
}

}  // namespace

// Keyboard -----------------------------------------------------------------------

UIKeyboard::UIKeyboard(CGRect frame) : UIView(frame) { setBackgroundColor(UIColor::colorWithWhite(0.82, 1)); }

std::shared_ptr<UIKeyboardLayoutStar> UIKeyboard::layout() {
  return uikit_internal::lazySubview(layoutOnce_, mutex_, layout_, *this, [&] {
    return std::make_shared<UIKeyboardLayoutStar>(bounds());
  });
}

std::shared_ptr<UIKeyboard> UIKeyboard::activeKeyboard() {
  keyboardWindow();
  std::lock_guard lock(state().mutex);
  return state().keyboard;
}

std::shared_ptr<UIWindow> UIKeyboard::keyboardWindow() {
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (s.window) return s.window;
  }
  CGRect screen = UIScreen::mainScreen()->bounds();
  auto window = std::make_shared<UIRemoteKeyboardWindow>(
      CGRectMake(0, screen.size.height - kHeight, screen.size.width, kHeight));
  window->setWindowLevel(UIWindowLevelStatusBar + 500);
  auto keyboard = std::make_shared<UIKeyboard>(window->bounds());
  window->addSubview(keyboard);
  keyboard->layout()->layoutSubviews();
  std::lock_guard lock(s.mutex);
  if (!s.window) {
    s.window = window;
    s.keyboard = keyboard;
  }
  return s.window;
}

bool UIKeyboard::isOnScreen() {
  std::lock_guard lock(state().mutex);
  return state().shown;
}

void UIKeyboard::_firstResponderDidChange(const std::shared_ptr<UIResponder>& responder) {
  bool wanted = asKeyInput(responder) != nullptr;
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (s.shown == wanted) return;
    s.shown = wanted;
  }
  auto window = keyboardWindow();
  window->setHidden(!wanted);
  if (!wanted) activeKeyboard()->layout()->setShifted(false);
  NSNotificationCenter::defaultCenter().postNotificationName(
      wanted ? UIKeyboardDidShowNotification : UIKeyboardDidHideNotification, nullptr);
}

bool UIKeyboard::typeText(const std::string& text) {
  if (!asKeyInput(currentResponder())) return false;
  auto layout = activeKeyboard()->layout();
  for (const auto& ch : uikit_internal::splitCharacters(text)) {
    auto responder = currentResponder();
    auto* input = asKeyInput(responder);
    if (!input) break;  // the return key may have ended the editing
    std::string name = ch == "\n" ? "return" : ch == "\b" ? "delete" : ch == " " ? "space" : ch;
    std::shared_ptr<UIKeyboardKeyView> key;
    if (isOnScreen()) key = layout->keyForCharacter(name);
    if (!key) {
      if (name == "delete") {
        input->deleteBackward();
      } else {
        input->insertText(ch);
      }
      continue;
    }
    if (isAsciiLetter(ch)) {
      bool upper = std::isupper(static_cast<unsigned char>(ch[0])) != 0;
      if (upper != layout->isShifted()) tapView(layout->keyNamed("shift"));
    }
    tapView(key);
  }
  return true;
}

// Layout --------------------------------------------------------------------------

UIKeyboardLayoutStar::UIKeyboardLayoutStar(CGRect frame) : UIView(frame) { setOpaque(false); }

void UIKeyboardLayoutStar::buildKeys() {
  std::call_once(keysOnce_, [this] {
    std::vector<std::shared_ptr<UIKeyboardKeyView>> keys;
    for (const auto& row : keyRows()) {
      for (const auto& name : row) {
        auto key = std::make_shared<UIKeyboardKeyView>();
        key->_setKeyName(name);
        addSubview(key);
        keys.push_back(key);
      }
    }
    std::lock_guard lock(mutex_);
    keys_ = std::move(keys);
  });
}

std::vector<std::shared_ptr<UIKeyboardKeyView>> UIKeyboardLayoutStar::keys() {
  buildKeys();
  std::lock_guard lock(mutex_);
  return keys_;
}

std::shared_ptr<UIKeyboardKeyView> UIKeyboardLayoutStar::keyNamed(const std::string& name) {
  for (const auto& key : keys()) {
    if (key->keyName() == name) return key;
  }
  return nullptr;
}

std::shared_ptr<UIKeyboardKeyView> UIKeyboardLayoutStar::keyForCharacter(const std::string& character) {
  std::string name = character;
  if (isAsciiLetter(name)) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return keyNamed(name);
}

bool UIKeyboardLayoutStar::isShifted() const {
  std::lock_guard lock(mutex_);
  return shifted_;
}

void UIKeyboardLayoutStar::setShifted(bool shifted) {
  std::lock_guard lock(mutex_);
  shifted_ = shifted;
}

void UIKeyboardLayoutStar::_keyActivated(const std::shared_ptr<UIKeyboardKeyView>& key) {
  std::string name = key->keyName();
  if (name == "shift") {
    setShifted(!isShifted());
    return;
  }
  auto responder = currentResponder();
  auto* input = asKeyInput(responder);
  if (!input) return;
  if (name == "delete") {
    input->deleteBackward();
  } else if (name == "space") {
    input->insertText(" ");
  } else if (name == "return") {
    if (auto field = std::dynamic_pointer_cast<UITextField>(responder)) {
      field->sendActionsForControlEvents(UIControlEventEditingDidEndOnExit);
      field->resignFirstResponder();
    } else {
      input->insertText("\n");
    }
  } else {
    if (isShifted() && isAsciiLetter(name)) {
      name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
      setShifted(false);
    }
    input->insertText(name);
  }
}

void UIKeyboardLayoutStar::layoutSubviews() {
  CGRect b = bounds();
  auto all = keys();
  const auto& rows = keyRows();
  CGFloat rowHeight = b.size.height / static_cast<CGFloat>(rows.size());
  std::size_t k = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    CGFloat width = b.size.width / static_cast<CGFloat>(rows[r].size());
    for (std::size_t c = 0; c < rows[r].size() && k < all.size(); ++c, ++k) {
      all[k]->setFrame(CGRectInset({{width * static_cast<CGFloat>(c), rowHeight * static_cast<CGFloat>(r)}, {width, rowHeight}}, 2, 3));
    }
  }
}

// Key -------------------------------------------------------------------------------

UIKeyboardKeyView::UIKeyboardKeyView(CGRect frame) : UIView(frame) {
  setBackgroundColor(UIColor::whiteColor());
  layer()->setCornerRadius(5);
}

std::string UIKeyboardKeyView::keyName() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void UIKeyboardKeyView::_setKeyName(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    name_ = name;
  }
  label()->setText(name);
}

std::shared_ptr<UILabel> UIKeyboardKeyView::label() {
  return uikit_internal::lazySubview(labelOnce_, mutex_, label_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextAlignment(NSTextAlignmentCenter);
    return label;
  });
}

void UIKeyboardKeyView::layoutSubviews() { label()->setFrame(bounds()); }

void UIKeyboardKeyView::touchesBegan(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIKeyboardKeyView::touchesMoved(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIKeyboardKeyView::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}

void UIKeyboardKeyView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty() || !CGRectContainsPoint(bounds(), touches.front()->locationInView(selfView()))) return;
  if (auto star = std::dynamic_pointer_cast<UIKeyboardLayoutStar>(superview())) {
    star->_keyActivated(std::static_pointer_cast<UIKeyboardKeyView>(selfView()));
  }
}
