// The window of the on-screen keyboard: above the application's windows, never key.
#pragma once

#include "uikit/UIWindow.h"

class UIRemoteKeyboardWindow : public UIWindow {
  QV_OBJC_DECLARE_CLASS(UIRemoteKeyboardWindow)
 public:
  using UIWindow::UIWindow;
  bool _canBecomeKeyWindow() const override { return false; }
};
