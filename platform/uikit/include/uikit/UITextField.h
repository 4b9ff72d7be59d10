// A one-line text field. Its text is never absent (unset or set to absent reads as
// the empty text); the placeholder may be. A tap makes it first responder (and
// shows the keyboard). Typed text (insertText/deleteBackward) posts
// "UITextFieldTextDidChangeNotification" and runs the editing-changed actions;
// setText does neither.
#pragma once

#include <optional>
#include <string>

#include "uikit/UIControl.h"
#include "uikit/UIKeyInput.h"
#include "uikit/UILabel.h"

inline constexpr const char* UITextFieldTextDidChangeNotification = "UITextFieldTextDidChangeNotification";
inline constexpr const char* UITextFieldTextDidBeginEditingNotification = "UITextFieldTextDidBeginEditingNotification";
inline constexpr const char* UITextFieldTextDidEndEditingNotification = "UITextFieldTextDidEndEditingNotification";

enum UITextBorderStyle : long {
  UITextBorderStyleNone = 0,
  UITextBorderStyleLine = 1,
  UITextBorderStyleBezel = 2,
  UITextBorderStyleRoundedRect = 3,
};

class UITextField : public UIControl, public UIKeyInput {
  QV_OBJC_DECLARE_CLASS(UITextField)
 public:
  explicit UITextField(CGRect frame = CGRectZero);

  std::optional<std::string> text() const;  // never absent
  void setText(std::optional<std::string> text);
  std::optional<std::string> placeholder() const;
  void setPlaceholder(std::optional<std::string> placeholder);
  CGFloat fontSize() const;
  void setFontSize(CGFloat size);
  std::shared_ptr<UIColor> textColor() const;
  void setTextColor(const std::shared_ptr<UIColor>& color);
  NSTextAlignment textAlignment() const;
  void setTextAlignment(NSTextAlignment alignment);
  UITextBorderStyle borderStyle() const;
  void setBorderStyle(UITextBorderStyle style);
  bool isSecureTextEntry() const;
  void setSecureTextEntry(bool secure);
  bool isEditing() const;  // first responder

  // UIKeyInput.
  bool hasText() const override;
  void insertText(const std::string& text) override;
  void deleteBackward() override;

  bool canBecomeFirstResponder() const override;  // when enabled
  void _didBecomeFirstResponder() override;
  void _didResignFirstResponder() override;
  void endTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event) override;

 private:
  void textDidChange();

  std::string text_;
  std::optional<std::string> placeholder_;
  CGFloat fontSize_ = 17.0;
  std::shared_ptr<UIColor> textColor_;
  NSTextAlignment alignment_ = NSTextAlignmentNatural;
  UITextBorderStyle borderStyle_ = UITextBorderStyleNone;
  bool secure_ = false;
};
