// Launch: the window with its tabs, the device input, then "sample-app ready".
#include <cstdio>

#include "Screens.h"
#include "device/UIDeviceInput.h"
#include "dispatch/dispatch.h"
#include "uikit/CATransaction.h"

class SampleAppDelegate : public UIApplicationDelegate {
  QV_OBJC_DECLARE_CLASS(SampleAppDelegate)
 public:
  bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& application,
                                     const std::map<std::string, std::any>& options) override;
};

QV_OBJC_DEFINE_CLASS(SampleAppDelegate, UIApplicationDelegate)

bool SampleAppDelegate::didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& application,
                                                      const std::map<std::string, std::any>&) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  setWindow(window);

  auto tabs = std::make_shared<UITabBarController>();
  tabs->setViewControllers({sample::inNavigation(std::make_shared<LoginViewController>(), "Login"),
                            sample::inNavigation(std::make_shared<ListViewController>(), "List"),
                            sample::inNavigation(std::make_shared<SettingsViewController>(), "Settings"),
                            sample::inNavigation(std::make_shared<WebViewController>(), "Web")},
                           false);
  window->setRootViewController(tabs);
  window->makeKeyAndVisible();

  if (!UIDeviceInput::start()) {
    std::fprintf(stderr, "sample-app: the device input cannot listen (QUORVEL_DEVICE_PORT)\n");
    application->_stopMainLoop(2);
    return false;
  }
  // Ready once the main run loop turns with the first screen laid out.
  dispatch_async(dispatch_get_main_queue(), [] {
    CATransaction::flush();
    std::printf("sample-app ready\n");
    std::fflush(stdout);
  });
  return true;
}
