#include "uikit/UIApplicationDelegate.h"

#include "uikit/UIApplication.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(UIApplicationDelegate, objc::Object)

bool UIApplicationDelegate::didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>&,
                                                          const std::map<std::string, std::any>&) {
  return true;
}
void UIApplicationDelegate::applicationDidBecomeActive(const std::shared_ptr<UIApplication>&) {}
void UIApplicationDelegate::applicationWillResignActive(const std::shared_ptr<UIApplication>&) {}
void UIApplicationDelegate::applicationDidEnterBackground(const std::shared_ptr<UIApplication>&) {}
void UIApplicationDelegate::applicationWillEnterForeground(const std::shared_ptr<UIApplication>&) {}
void UIApplicationDelegate::applicationWillTerminate(const std::shared_ptr<UIApplication>&) {}

std::shared_ptr<UIWindow> UIApplicationDelegate::window() const {
  std::lock_guard lock(mutex_);
  return window_;
}

void UIApplicationDelegate::setWindow(const std::shared_ptr<UIWindow>& window) {
  std::lock_guard lock(mutex_);
  window_ = window;
}
