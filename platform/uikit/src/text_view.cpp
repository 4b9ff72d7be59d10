#include "uikit/UITextView.h"

#include <cmath>

#include "foundation/notification_center.h"
#include "text_support.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UITextView, UIScrollView)

UITextView::UITextView(CGRect frame) : UIScrollView(frame), textColor_(UIColor::blackColor()) {}

std::optional<std::string> UITextView::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void UITextView::setText(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  text_ = text.value_or("");
}

bool UITextView::isEditable() const {
  std::lock_guard lock(mutex_);
  return editable_;
}
void UITextView::setEditable(bool editable) {
  {
    std::lock_guard lock(mutex_);
    editable_ = editable;
  }
  if (!editable && isFirstResponder()) resignFirstResponder();
}
bool UITextView::isSelectable() const {
  std::lock_guard lock(mutex_);
  return selectable_;
}
void UITextView::setSelectable(bool selectable) {
  std::lock_guard lock(mutex_);
  selectable_ = selectable;
}
CGFloat UITextView::fontSize() const {
  std::lock_guard lock(mutex_);
  return fontSize_;
}
void UITextView::setFontSize(CGFloat size) {
  std::lock_guard lock(mutex_);
  if (size > 0) fontSize_ = size;
}
std::shared_ptr<UIColor> UITextView::textColor() const {
  std::lock_guard lock(mutex_);
  return textColor_;
}
void UITextView::setTextColor(const std::shared_ptr<UIColor>& color) {
  std::lock_guard lock(mutex_);
  textColor_ = color ? color : UIColor::blackColor();
}
NSTextAlignment UITextView::textAlignment() const {
  std::lock_guard lock(mutex_);
  return alignment_;
}
void UITextView::setTextAlignment(NSTextAlignment alignment) {
  std::lock_guard lock(mutex_);
  alignment_ = alignment;
}

bool UITextView::hasText() const {
  std::lock_guard lock(mutex_);
  return !text_.empty();
}

void UITextView::insertText(const std::string& text) {
  if (text.empty()) return;
  {
    std::lock_guard lock(mutex_);
    text_ += text;
  }
  textDidChange();
}

void UITextView::deleteBackward() {
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = uikit_internal::removeLastCharacter(text_);
  }
  if (changed) textDidChange();
}

void UITextView::textDidChange() {
  NSNotificationCenter::defaultCenter().postNotificationName(UITextViewTextDidChangeNotification, selfView());
}

bool UITextView::canBecomeFirstResponder() const { return isEditable(); }

void UITextView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  // A drag scrolls (the pan recogniser cancels the touch); a touch that ends here
  // is a tap.
  if (!touches.empty() && CGRectContainsPoint(bounds(), touches.front()->locationInView(selfView())) &&
      canBecomeFirstResponder()) {
    becomeFirstResponder();
    return;
  }
  UIScrollView::touchesEnded(touches, event);
}
