// Windows: the root views that the application shows. A window is hidden until it
// is made visible; the application lists its visible windows and one key window.
// A window holds its first responder and dispatches touch events (sendEvent:
// lives in the method table): to the gesture recognisers of the touched view and
// its ancestors, then to the touched view's responder chain, phase by phase.
#pragma once

#include <memory>

#include "uikit/UIView.h"

class UIViewController;
class UIScreen;

using UIWindowLevel = CGFloat;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

class UIWindow : public UIView {
  QV_OBJC_DECLARE_CLASS(UIWindow)
 public:
  explicit UIWindow(CGRect frame = CGRectZero);  // hidden
  ~UIWindow() override;

  // Shows the window and makes it the application's key window.
  void makeKeyAndVisible();
  void makeKeyWindow();
  bool isKeyWindow() const;
  virtual void becomeKeyWindow() {}
  virtual void resignKeyWindow() {}
  // Overlay windows (alerts, the keyboard) answer false and never become key.
  virtual bool _canBecomeKeyWindow() const { return true; }

  void setHidden(bool hidden) override;  // registers with the application when shown

  UIWindowLevel windowLevel() const;
  void setWindowLevel(UIWindowLevel level);
  std::shared_ptr<UIScreen> screen() const;

  // The root view controller's view fills the window; it appears (will/did appear)
  // when the window is or becomes visible.
  std::shared_ptr<UIViewController> rootViewController() const;
  void setRootViewController(const std::shared_ptr<UIViewController>& controller);

  // Dispatches an event (sends "sendEvent:" through the method table).
  void sendEvent(const std::shared_ptr<UIEvent>& event);

  std::shared_ptr<UIResponder> nextResponder() const override;  // the application

  // First responder of this window (platform internals for UIResponder).
  std::shared_ptr<UIResponder> _firstResponder() const;
  bool _setFirstResponder(const std::shared_ptr<UIResponder>& responder);
  // Clears the first responder when it is `root` or inside it (a removed subtree).
  void _resignFirstResponderInside(const std::shared_ptr<UIView>& root);

  // The platform's own dispatch (what "sendEvent:" runs by default).
  void _dispatchEvent(const std::shared_ptr<UIEvent>& event);

 protected:
  void _appearRootIfVisible();

 private:
  UIWindowLevel windowLevel_ = UIWindowLevelNormal;
  std::shared_ptr<UIViewController> rootViewController_;
  std::weak_ptr<UIResponder> firstResponder_;
};
