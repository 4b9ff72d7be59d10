#include "quorvel/recording/CaptureHooks.h"

#include <exception>

#include "foundation/log.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/recording/RecorderEvent.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace UIApplication_ToolkitAdditions {

void load(objc::Class* receivingClass) {
  if (receivingClass != UIApplication::classObject()) return;
  NSLog("Loading ZARVO IOS INSTRUMENTOR...");
  receivingClass->addMethod<void, std::shared_ptr<UIEvent>>(
      "agentSendEvent:", [](objc::Object& self, std::shared_ptr<UIEvent> event) {
        agentSendEvent(static_cast<UIApplication&>(self), event);
      });
  NSObject_NSObject::swizzle("sendEvent:", "agentSendEvent:", receivingClass);
}

namespace {

// The one classifier of the process: what it notes when a touch begins must still
// be there when the touch moves and ends.
RecorderEvent& classifier() {
  static auto* instance = new std::shared_ptr<RecorderEvent>(std::make_shared<RecorderEvent>());
  return **instance;
}

}  // namespace

void agentSendEvent(UIApplication& app, const std::shared_ptr<UIEvent>& event) {
  NSLog("Clicked");
  // The application's handling of the event belongs to the dispatch: the steps of
  // its touches are built once the application has seen it.
  ElementsQueue::EventDispatchScope dispatching;
  try {
    classifier().handleEvent(event);
  } catch (const std::exception& e) {  // NSException included: recording never stops an event
    NSLog("Event not classified: %@", e.what());
  }
  // After the exchange this name runs the platform's own dispatch.
  objc::msgSend<void>(app, "agentSendEvent:", event);
}

}  // namespace UIApplication_ToolkitAdditions

namespace NSObject_NSObject {

void swizzle(const std::string& original, const std::string& replacement, objc::Class* cls) {
  if (!cls) return;
  objc::method_exchangeImplementations(cls->getInstanceMethod(original), cls->getInstanceMethod(replacement));
}

}  // namespace NSObject_NSObject

namespace UIViewController_UIViewController {

void load(objc::Class* receivingClass) {
  if (receivingClass != UIViewController::classObject()) return;
  receivingClass->addMethod<void, bool>("csViewDidAppear:", [](objc::Object& self, bool animated) {
    csViewDidAppear(static_cast<UIViewController&>(self), animated);
  });
  receivingClass->addMethod<void, bool>("csViewWillAppear:", [](objc::Object& self, bool animated) {
    csViewWillAppear(static_cast<UIViewController&>(self), animated);
  });
  NSObject_NSObject::swizzle("viewDidAppear:", "csViewDidAppear:", receivingClass);
  NSObject_NSObject::swizzle("viewWillAppear:", "csViewWillAppear:", receivingClass);
}

void csViewDidAppear(UIViewController& controller, bool animated) {
  objc::msgSend<void>(controller, "csViewDidAppear:", animated);  // the platform's own callback
  NSLog("View Controller Loaded");
  GlobalVars::sharedInstance()->set_viewControllerLoaded("LOADED");
}

void csViewWillAppear(UIViewController& controller, bool animated) {
  objc::msgSend<void>(controller, "csViewWillAppear:", animated);  // the platform's own callback
  NSLog("View Controller is getting Loaded");
  GlobalVars::sharedInstance()->set_viewControllerLoaded("LOADING");
}

}  // namespace UIViewController_UIViewController

namespace UIWindow_UIWindow {

void load(objc::Class* receivingClass) {
  if (receivingClass != UIWindow::classObject()) return;
  NSLog("WINDOW IS LOADED %@", objc::NSStringFromClass(receivingClass));
  GlobalVars::sharedInstance()->set_currentUIWindow(receivingClass);
}

}  // namespace UIWindow_UIWindow
