// A platform application that does not link the agent: the agent reaches it only
// through LD_PRELOAD. Its window becomes key PLAIN_APP_KEY_AFTER_MS milliseconds
// after launch (0 by default); it logs when that happens.
#include <cstdio>
#include <cstdlib>

#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "uikit/uikit.h"

class PlainAppDelegate : public UIApplicationDelegate {
  QV_OBJC_DECLARE_CLASS(PlainAppDelegate)
 public:
  bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>&,
                                     const std::map<std::string, std::any>&) override {
    const char* delay = std::getenv("PLAIN_APP_KEY_AFTER_MS");
    long ms = delay ? std::atol(delay) : 0;
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, ms * NSEC_PER_MSEC), dispatch_get_main_queue(), [this] {
      auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
      window->addSubview(std::make_shared<UILabel>(CGRectMake(20, 100, 200, 40)));
      setWindow(window);
      window->makeKeyAndVisible();
      NSLog("plain-app window is key");
    });
    std::printf("plain-app ready\n");
    std::fflush(stdout);
    return true;
  }
};

QV_OBJC_DEFINE_CLASS(PlainAppDelegate, UIApplicationDelegate)

int main(int argc, char** argv) { return UIApplicationMain(argc, argv, std::nullopt, "PlainAppDelegate"); }
