// A text label. Its text may be absent. Labels take no touches by default (user
// interaction off), so touches fall through to the view behind.
#pragma once

#include <optional>
#include <string>

#include "uikit/UIView.h"

enum NSTextAlignment : long {
  NSTextAlignmentLeft = 0,
  NSTextAlignmentCenter = 1,
  NSTextAlignmentRight = 2,
  NSTextAlignmentJustified = 3,
  NSTextAlignmentNatural = 4,
};

class UILabel : public UIView {
  QV_OBJC_DECLARE_CLASS(UILabel)
 public:
  explicit UILabel(CGRect frame = CGRectZero);

  std::optional<std::string> text() const;
  void setText(std::optional<std::string> text);
  CGFloat fontSize() const;  // points, 17 by default
  void setFontSize(CGFloat size);
  bool isBold() const;
  void setBold(bool bold);
  std::shared_ptr<UIColor> textColor() const;  // black by default
  void setTextColor(const std::shared_ptr<UIColor>& color);
  NSTextAlignment textAlignment() const;  // natural by default
  void setTextAlignment(NSTextAlignment alignment);
  long numberOfLines() const;  // 1 by default; 0 means unlimited
  void setNumberOfLines(long lines);

  // From the font the label is drawn in: one line as wide as the text, or the
  // lines a narrower width needs (an estimate: words are not wrapped here).
  CGSize sizeThatFits(CGSize size) override;
  CGSize intrinsicContentSize() override;

 private:
  std::optional<std::string> text_;
  CGFloat fontSize_ = 17.0;
  bool bold_ = false;
  std::shared_ptr<UIColor> textColor_;
  NSTextAlignment alignment_ = NSTextAlignmentNatural;
  long numberOfLines_ = 1;
};
