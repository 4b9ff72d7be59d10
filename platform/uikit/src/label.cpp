#include "uikit/UILabel.h"

#include <algorithm>
#include <cmath>

#include "render/text_drawing.h"

QV_OBJC_DEFINE_CLASS(UILabel, UIView)

UILabel::UILabel(CGRect frame) : UIView(frame), textColor_(UIColor::blackColor()) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

std::optional<std::string> UILabel::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}
void UILabel::setText(std::optional<std::string> text) {
  {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }
  setNeedsLayout();
}
CGFloat UILabel::fontSize() const {
  std::lock_guard lock(mutex_);
  return fontSize_;
}
void UILabel::setFontSize(CGFloat size) {
  std::lock_guard lock(mutex_);
  fontSize_ = size > 0 ? size : fontSize_;
}
bool UILabel::isBold() const {
  std::lock_guard lock(mutex_);
  return bold_;
}
void UILabel::setBold(bool bold) {
  std::lock_guard lock(mutex_);
  bold_ = bold;
}
std::shared_ptr<UIColor> UILabel::textColor() const {
  std::lock_guard lock(mutex_);
  return textColor_;
}
void UILabel::setTextColor(const std::shared_ptr<UIColor>& color) {
  std::lock_guard lock(mutex_);
  textColor_ = color ? color : UIColor::blackColor();
}
NSTextAlignment UILabel::textAlignment() const {
  std::lock_guard lock(mutex_);
  return alignment_;
}
void UILabel::setTextAlignment(NSTextAlignment alignment) {
  std::lock_guard lock(mutex_);
  alignment_ = alignment;
}
long UILabel::numberOfLines() const {
  std::lock_guard lock(mutex_);
  return numberOfLines_;
}
void UILabel::setNumberOfLines(long lines) {
  std::lock_guard lock(mutex_);
  numberOfLines_ = std::max(0L, lines);
}

CGSize UILabel::sizeThatFits(CGSize size) {
  std::optional<std::string> text;
  CGFloat font;
  long lines;
  bool bold;
  {
    std::lock_guard lock(mutex_);
    text = text_;
    font = fontSize_;
    lines = numberOfLines_;
    bold = bold_;
  }
  if (!text || text->empty()) return {0, 0};
  CGFloat lineHeight = std::ceil(font * 1.2);
  CGFloat width = std::ceil(uikit_render::textWidth(*text, font, bold));
  if (size.width > 0 && width > size.width && lines != 1) {
    long needed = static_cast<long>(std::ceil(width / size.width));
    if (lines > 0) needed = std::min(needed, lines);
    return {size.width, lineHeight * static_cast<CGFloat>(needed)};
  }
  return {width, lineHeight};
}

CGSize UILabel::intrinsicContentSize() { return sizeThatFits({0, 0}); }
