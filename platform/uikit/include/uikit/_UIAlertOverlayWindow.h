// The window that shown alert views live in: above every other window, never key.
#pragma once

#include "uikit/UIWindow.h"

class _UIAlertOverlayWindow : public UIWindow {
  QV_OBJC_DECLARE_CLASS(_UIAlertOverlayWindow)
 public:
  using UIWindow::UIWindow;
  bool _canBecomeKeyWindow() const override { return false; }
};
