// The application delegate: the application's own object that learns about launch
// and life-cycle changes. An application derives from it and registers its class
// (QV_OBJC_DEFINE_CLASS(AppDelegate, UIApplicationDelegate)) so that
// UIApplicationMain can instantiate it by name.
#pragma once

#include <any>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "objc/runtime.h"

class UIApplication;
class UIWindow;

class UIApplicationDelegate : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIApplicationDelegate)
 public:
  UIApplicationDelegate() = default;

  // application:didFinishLaunchingWithOptions:
  virtual bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& application,
                                             const std::map<std::string, std::any>& options);
  virtual void applicationDidBecomeActive(const std::shared_ptr<UIApplication>& application);
  virtual void applicationWillResignActive(const std::shared_ptr<UIApplication>& application);
  virtual void applicationDidEnterBackground(const std::shared_ptr<UIApplication>& application);
  virtual void applicationWillEnterForeground(const std::shared_ptr<UIApplication>& application);
  virtual void applicationWillTerminate(const std::shared_ptr<UIApplication>& application);

  // The delegate's main window, by convention.
  std::shared_ptr<UIWindow> window() const;
  void setWindow(const std::shared_ptr<UIWindow>& window);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<UIWindow> window_;
};
