// The load hooks of the platform-class extensions that capture events and follow
// screen appearance. Each acts only when it receives exactly the platform class it
// extends; reached through a subclass it does nothing.
#pragma once

#include <memory>
#include <string>

#include "objc/runtime.h"

class UIApplication;
class UIEvent;
class UIViewController;

namespace UIApplication_ToolkitAdditions {
// Exchanges the application's "sendEvent:" with "agentSendEvent:".
void load(objc::Class* receivingClass);
// The capture hook: runs in place of sendEvent: once installed.
void agentSendEvent(UIApplication& app, const std::shared_ptr<UIEvent>& event);
}  // namespace UIApplication_ToolkitAdditions

namespace NSObject_NSObject {
// Exchanges two instance methods of `cls` by name; a name the class does not
// implement leaves the exchange undone.
void swizzle(const std::string& original, const std::string& replacement, objc::Class* cls);
}  // namespace NSObject_NSObject

namespace UIViewController_UIViewController {
// Exchanges "viewDidAppear:" with "csViewDidAppear:", then "viewWillAppear:" with
// "csViewWillAppear:".
void load(objc::Class* receivingClass);
void csViewDidAppear(UIViewController& controller, bool animated);
void csViewWillAppear(UIViewController& controller, bool animated);
}  // namespace UIViewController_UIViewController

namespace UIWindow_UIWindow {
// Logs the window class and stores it in the shared state.
void load(objc::Class* receivingClass);
}  // namespace UIWindow_UIWindow
