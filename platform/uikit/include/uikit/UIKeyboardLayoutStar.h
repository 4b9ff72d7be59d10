// The key layout of the on-screen keyboard: rows of key views for the digits, the
// letters (shift makes the next letter upper case) and a few punctuation marks,
// then shift, delete, space and return.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIView.h"

class UIKeyboardKeyView;

class UIKeyboardLayoutStar : public UIView {
  QV_OBJC_DECLARE_CLASS(UIKeyboardLayoutStar)
 public:
  explicit UIKeyboardLayoutStar(CGRect frame = CGRectZero);

  std::vector<std::shared_ptr<UIKeyboardKeyView>> keys();
  // The key that types `character` (a lower-case letter's key for an upper-case
  // one), or nullptr. Special keys: "shift", "delete", "space", "return".
  std::shared_ptr<UIKeyboardKeyView> keyForCharacter(const std::string& character);
  std::shared_ptr<UIKeyboardKeyView> keyNamed(const std::string& name);
  bool isShifted() const;
  void setShifted(bool shifted);

  // A key view was tapped: type it into the first responder.
  void _keyActivated(const std::shared_ptr<UIKeyboardKeyView>& key);

  void layoutSubviews() override;

 private:
  void buildKeys();

  std::vector<std::shared_ptr<UIKeyboardKeyView>> keys_;
  std::once_flag keysOnce_;
  bool shifted_ = false;
};
