// One key of the on-screen keyboard: its name (the character it types, or "shift",
// "delete", "space", "return") shown in a label; a tap (ending inside) activates it.
#pragma once

#include <memory>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UIKeyboardKeyView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIKeyboardKeyView)
 public:
  explicit UIKeyboardKeyView(CGRect frame = CGRectZero);

  std::string keyName() const;
  void _setKeyName(const std::string& name);
  std::shared_ptr<UILabel> label();

  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void layoutSubviews() override;

 private:
  std::string name_;
  std::shared_ptr<UILabel> label_;
  std::once_flag labelOnce_;
};
