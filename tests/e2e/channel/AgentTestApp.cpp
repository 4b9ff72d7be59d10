// A minimal application for the control channel's end-to-end tests: one window
// with a label and a button, run by UIApplicationMain. The agent is loaded into it
// with LD_PRELOAD. Prints "agent-test-app ready" once launched.
#include <cstdio>

#include "uikit/uikit.h"

class AgentTestAppDelegate : public UIApplicationDelegate {
  QV_OBJC_DECLARE_CLASS(AgentTestAppDelegate)
 public:
  bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>&,
                                     const std::map<std::string, std::any>&) override {
    auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    auto controller = std::make_shared<UIViewController>();
    window->setRootViewController(controller);
    auto label = std::make_shared<UILabel>(CGRectMake(20, 80, 200, 30));
    label->setText(std::string("Welcome"));
    window->addSubview(label);
    auto button = std::make_shared<UIButton>(CGRectMake(20, 140, 120, 44));
    button->setTitle(std::string("Log In"), UIControlStateNormal);
    window->addSubview(button);
    setWindow(window);
    window->makeKeyAndVisible();
    std::printf("agent-test-app ready\n");
    std::fflush(stdout);
    return true;
  }
};

QV_OBJC_DEFINE_CLASS(AgentTestAppDelegate, UIApplicationDelegate)

int main(int argc, char** argv) { return UIApplicationMain(argc, argv, std::nullopt, "AgentTestAppDelegate"); }
