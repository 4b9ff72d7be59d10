// The fixed screen that the agent-facing fuzz targets run against: a key window
// with a form of labels, a text field, buttons, a switch, a segmented control, a
// hidden container and a clipping scroll view; made once per process. Its views are
// also in the spy storage, so that highlight commands find something. The main
// run loop is turned after every input, so that what an input queued on the main
// queue or the run loop (notices and their dismissal) runs instead of piling up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/runloop.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace qvfuzz {

inline void makeFixedScreen() {
  static const bool made = [] {
    auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
    auto form = std::make_shared<UIView>(CGRectMake(0, 0, 390, 400));
    auto heading = std::make_shared<UILabel>(CGRectMake(20, 40, 300, 30));
    heading->setText(std::string("Welcome Back \xC3\x89""COLE"));
    auto user = std::make_shared<UITextField>(CGRectMake(20, 100, 300, 40));
    user->setPlaceholder(std::string("User name"));
    auto login = std::make_shared<UIButton>(CGRectMake(20, 160, 120, 44));
    login->setTitle(std::string("Log In"), UIControlStateNormal);
    auto toggle = std::make_shared<UISwitch>(CGRectMake(200, 160, 51, 31));
    auto segments = std::make_shared<UISegmentedControl>(CGRectMake(20, 220, 200, 30))->initWithItems({"One", "Two"});
    auto hidden = std::make_shared<UIView>(CGRectMake(0, 420, 390, 100));
    hidden->setHidden(true);
    auto secret = std::make_shared<UIButton>(CGRectMake(10, 10, 100, 40));
    secret->setTitle(std::string("Secret"), UIControlStateNormal);
    auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 540, 390, 200));
    scroll->setClipsToBounds(true);
    scroll->setContentSize(CGSizeMake(390, 3000));
    auto below = std::make_shared<UILabel>(CGRectMake(10, 2000, 100, 40));
    below->setText(std::string("Below"));

    window->addSubview(form);
    for (const std::shared_ptr<UIView>& v : std::vector<std::shared_ptr<UIView>>{heading, user, login, toggle, segments}) {
      form->addSubview(v);
    }
    window->addSubview(hidden);
    hidden->addSubview(secret);
    window->addSubview(scroll);
    scroll->addSubview(below);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
    for (const std::shared_ptr<UIView>& v : std::vector<std::shared_ptr<UIView>>{heading, login, toggle, below}) {
      UIViewStorage::sharedObject()->storeView(v, Utilities::getGUIDString());
    }
    return true;
  }();
  (void)made;
}

inline void turnMainRunLoop() { CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false); }

}  // namespace qvfuzz
