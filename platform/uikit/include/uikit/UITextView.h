// A scrollable multi-line text view. Its text is never absent. When editable, a tap
// (a touch that ends without scrolling) makes it first responder; typed text posts
// "UITextViewTextDidChangeNotification".
#pragma once

#include <optional>
#include <string>

#include "uikit/UIKeyInput.h"
#include "uikit/UILabel.h"
#include "uikit/UIScrollView.h"

inline constexpr const char* UITextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

class UITextView : public UIScrollView, public UIKeyInput {
  QV_OBJC_DECLARE_CLASS(UITextView)
 public:
  explicit UITextView(CGRect frame = CGRectZero);

  std::optional<std::string> text() const;  // never absent
  void setText(std::optional<std::string> text);
  bool isEditable() const;  // true by default
  void setEditable(bool editable);
  bool isSelectable() const;
  void setSelectable(bool selectable);
  CGFloat fontSize() const;
  void setFontSize(CGFloat size);
  std::shared_ptr<UIColor> textColor() const;
  void setTextColor(const std::shared_ptr<UIColor>& color);
  NSTextAlignment textAlignment() const;
  void setTextAlignment(NSTextAlignment alignment);

  bool hasText() const override;
  void insertText(const std::string& text) override;
  void deleteBackward() override;

  bool canBecomeFirstResponder() const override;  // when editable
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

 private:
  void textDidChange();

  std::string text_;
  bool editable_ = true;
  bool selectable_ = true;
  CGFloat fontSize_ = 12.0;
  std::shared_ptr<UIColor> textColor_;
  NSTextAlignment alignment_ = NSTextAlignmentNatural;
};
