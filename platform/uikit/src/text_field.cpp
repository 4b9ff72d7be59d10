#include "uikit/UITextField.h"

#include "foundation/notification_center.h"
#include "text_support.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UITextField, UIControl)

UITextField::UITextField(CGRect frame) : UIControl(frame), textColor_(UIColor::blackColor()) { setOpaque(false); }

std::optional<std::string> UITextField::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void UITextField::setText(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  text_ = text.value_or("");
}

std::optional<std::string> UITextField::placeholder() const {
  std::lock_guard lock(mutex_);
  return placeholder_;
}

void UITextField::setPlaceholder(std::optional<std::string> placeholder) {
  std::lock_guard lock(mutex_);
  placeholder_ = std::move(placeholder);
}

CGFloat UITextField::fontSize() const {
  std::lock_guard lock(mutex_);
  return fontSize_;
}
void UITextField::setFontSize(CGFloat size) {
  std::lock_guard lock(mutex_);
  if (size > 0) fontSize_ = size;
}
std::shared_ptr<UIColor> UITextField::textColor() const {
  std::lock_guard lock(mutex_);
  return textColor_;
}
void UITextField::setTextColor(const std::shared_ptr<UIColor>& color) {
  std::lock_guard lock(mutex_);
  textColor_ = color ? color : UIColor::blackColor();
}
NSTextAlignment UITextField::textAlignment() const {
  std::lock_guard lock(mutex_);
  return alignment_;
}
void UITextField::setTextAlignment(NSTextAlignment alignment) {
  std::lock_guard lock(mutex_);
  alignment_ = alignment;
}
UITextBorderStyle UITextField::borderStyle() const {
  std::lock_guard lock(mutex_);
  return borderStyle_;
}
void UITextField::setBorderStyle(UITextBorderStyle style) {
  std::lock_guard lock(mutex_);
  borderStyle_ = style;
}
bool UITextField::isSecureTextEntry() const {
  std::lock_guard lock(mutex_);
  return secure_;
}
void UITextField::setSecureTextEntry(bool secure) {
  std::lock_guard lock(mutex_);
  secure_ = secure;
}

bool UITextField::isEditing() const { return isFirstResponder(); }

bool UITextField::hasText() const {
  std::lock_guard lock(mutex_);
  return !text_.empty();
}

void UITextField::insertText(const std::string& text) {
  if (text.empty()) return;
  {
    std::lock_guard lock(mutex_);
    text_ += text;
  }
  textDidChange();
}

void UITextField::deleteBackward() {
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = uikit_internal::removeLastCharacter(text_);
  }
  if (changed) textDidChange();
}

void UITextField::textDidChange() {
  auto self = selfView();
  NSNotificationCenter::defaultCenter().postNotificationName(UITextFieldTextDidChangeNotification, self);
  sendActionsForControlEvents(UIControlEventEditingChanged);
}

bool UITextField::canBecomeFirstResponder() const { return isEnabled(); }

void UITextField::_didBecomeFirstResponder() {
  sendActionsForControlEvents(UIControlEventEditingDidBegin);
  NSNotificationCenter::defaultCenter().postNotificationName(UITextFieldTextDidBeginEditingNotification, selfView());
}

void UITextField::_didResignFirstResponder() {
  sendActionsForControlEvents(UIControlEventEditingDidEnd);
  NSNotificationCenter::defaultCenter().postNotificationName(UITextFieldTextDidEndEditingNotification, selfView());
}

void UITextField::endTrackingWithTouch(const std::shared_ptr<UITouch>&, const std::shared_ptr<UIEvent>&) {
  if (isTouchInside()) becomeFirstResponder();
}
