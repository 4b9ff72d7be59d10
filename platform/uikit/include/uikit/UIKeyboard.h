// The on-screen keyboard: a separate window (class "UIRemoteKeyboardWindow",
// window level above the application's, never key) holding a view of class
// "UIKeyboard", its layout "UIKeyboardLayoutStar" and one key view of class
// "UIKeyboardKeyView" per key. It is shown while a text input (UIKeyInput) is first
// responder and hidden when none is. A tap on a key types it into the first
// responder.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

class UIKeyboardLayoutStar;
class UIKeyboardKeyView;

inline constexpr const char* UIKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* UIKeyboardDidHideNotification = "UIKeyboardDidHideNotification";

class UIKeyboard : public UIView {
  QV_OBJC_DECLARE_CLASS(UIKeyboard)
 public:
  explicit UIKeyboard(CGRect frame = CGRectZero);

  // The shared keyboard view and its window (made on first use; main thread).
  static std::shared_ptr<UIKeyboard> activeKeyboard();
  static std::shared_ptr<UIWindow> keyboardWindow();
  static bool isOnScreen();

  std::shared_ptr<UIKeyboardLayoutStar> layout();

  // Types `text` as a person would: for each character, a touch (began, then ended)
  // on its key view delivered through the application's sendEvent:, the key typing
  // the character into the first responder; a character without a key (or while
  // the keyboard is not shown) is inserted into the first responder directly.
  // "\n" is the return key, "\b" the delete key. Main thread only. Returns false
  // when no text input is first responder (nothing is typed).
  static bool typeText(const std::string& text);

  // Platform internals (first-responder changes).
  static void _firstResponderDidChange(const std::shared_ptr<UIResponder>& responder);

  static constexpr CGFloat kHeight = 216.0;

 private:
  std::shared_ptr<UIKeyboardLayoutStar> layout_;
  std::once_flag layoutOnce_;
};
