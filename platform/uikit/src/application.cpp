#include "uikit/UIApplication.h"

#include <algorithm>
#include <cstdlib>

#include "class_support.h"
#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "foundation/notification_center.h"
#include "uikit/UIApplicationDelegate.h"
#include "uikit/UIEvent.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

const CFRunLoopMode& UITrackingRunLoopMode = *new CFRunLoopMode("UITrackingRunLoopMode");  // never destroyed

// The tracking mode is one of the main run loop's common modes from the moment the
// toolkit is loaded.
[[maybe_unused]] static const bool kTrackingModeIsCommon = [] {
  CFRunLoopAddCommonMode(CFRunLoopGetMain(), UITrackingRunLoopMode);
  return true;
}();

QV_OBJC_DEFINE_CLASS(UIApplication, UIResponder, [](objc::Class* c) {
  c->addMethod<void, std::shared_ptr<UIEvent>>("sendEvent:", [](objc::Object& self, std::shared_ptr<UIEvent> event) {
    static_cast<UIApplication&>(self)._dispatchEvent(event);
  });
})

namespace {

// Never destroyed: background threads may still ask for the application while the
// process exits.
std::mutex& sharedMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::shared_ptr<UIApplication>& sharedSlot() {
  static auto* app = new std::shared_ptr<UIApplication>;
  return *app;
}

// Makes the shared application of `cls` (UIApplication when nullptr) unless one exists.
std::shared_ptr<UIApplication> makeShared(objc::Class* cls) {
  std::lock_guard lock(sharedMutex());
  auto& slot = sharedSlot();
  if (!slot) {
    if (cls) slot = objc::cast<UIApplication>(cls->createInstance());
    if (!slot) slot = std::make_shared<UIApplication>();
  }
  return slot;
}

}  // namespace

UIApplication::UIApplication() : touchesEvent_(std::make_shared<UIEvent>(UIEventTypeTouches)) {}

UIApplication::~UIApplication() = default;

std::shared_ptr<UIApplication> UIApplication::sharedApplication() { return makeShared(nullptr); }

std::shared_ptr<UIWindow> UIApplication::keyWindow() const {
  std::shared_ptr<UIWindow> key;
  {
    std::lock_guard lock(mutex_);
    key = keyWindow_.lock();
  }
  if (key && key->isHidden()) return nullptr;
  return key;
}

std::vector<std::shared_ptr<UIWindow>> UIApplication::windows() const {
  std::vector<std::shared_ptr<UIWindow>> result;
  {
    std::lock_guard lock(mutex_);
    for (const auto& w : windows_) {
      if (auto window = w.lock()) result.push_back(window);
    }
  }
  std::stable_sort(result.begin(), result.end(),
                   [](const auto& a, const auto& b) { return a->windowLevel() < b->windowLevel(); });
  return result;
}

std::shared_ptr<UIApplicationDelegate> UIApplication::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void UIApplication::setDelegate(const std::shared_ptr<UIApplicationDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

UIApplicationState UIApplication::applicationState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void UIApplication::_setApplicationState(UIApplicationState state) {
  std::lock_guard lock(mutex_);
  state_ = state;
}

void UIApplication::sendEvent(const std::shared_ptr<UIEvent>& event) {
  objc::msgSend<void, std::shared_ptr<UIEvent>>(*this, "sendEvent:", event);
}

void UIApplication::_dispatchEvent(const std::shared_ptr<UIEvent>& event) {
  if (!event || event->type() != UIEventTypeTouches) return;
  std::vector<std::shared_ptr<UIWindow>> targets;
  for (const auto& touch : event->allTouches()) {
    auto window = touch->window();
    if (window && std::find(targets.begin(), targets.end(), window) == targets.end()) targets.push_back(window);
  }
  for (const auto& window : targets) window->sendEvent(event);
}

std::shared_ptr<UIEvent> UIApplication::_touchesEvent() {
  std::lock_guard lock(mutex_);
  return touchesEvent_;
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  UIBackgroundTaskIdentifier id = nextBackgroundTask_++;
  backgroundTasks_[id] = std::move(handler);
  return id;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
  std::lock_guard lock(mutex_);
  backgroundTasks_.erase(identifier);
}

std::size_t UIApplication::_expireBackgroundTasks() {
  std::map<UIBackgroundTaskIdentifier, std::function<void()>> expired;
  {
    std::lock_guard lock(mutex_);
    expired.swap(backgroundTasks_);
  }
  // Outside the lock: a handler may begin or end tasks itself.
  for (auto& [identifier, handler] : expired) {
    if (handler) handler();
  }
  return expired.size();
}

std::size_t UIApplication::_backgroundTaskCount() const {
  std::lock_guard lock(mutex_);
  return backgroundTasks_.size();
}

std::shared_ptr<UIResponder> UIApplication::_firstResponder() const {
  if (auto key = keyWindow()) {
    if (auto responder = key->_firstResponder()) return responder;
  }
  auto all = windows();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (auto responder = (*it)->_firstResponder()) return responder;
  }
  return nullptr;
}

std::shared_ptr<UIWindow> UIApplication::_windowAtScreenPoint(CGPoint screenPoint,
                                                              std::shared_ptr<UIView>* hitView) const {
  auto all = windows();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const auto& window = *it;
    CGRect f = window->frame();
    CGRect b = window->bounds();
    CGPoint p{screenPoint.x - f.origin.x + b.origin.x, screenPoint.y - f.origin.y + b.origin.y};
    if (auto hit = window->hitTest(p, nullptr)) {
      if (hitView) *hitView = hit;
      return window;
    }
  }
  if (hitView) hitView->reset();
  return nullptr;
}

// Life cycle -----------------------------------------------------------------

namespace {

void post(const char* name, const std::shared_ptr<UIApplication>& app) {
  NSNotificationCenter::defaultCenter().postNotificationName(name, app);
}

}  // namespace

void UIApplication::_resignActive() {
  if (applicationState() != UIApplicationStateActive) return;
  auto self = std::static_pointer_cast<UIApplication>(shared_from_this());
  _setApplicationState(UIApplicationStateInactive);
  if (auto d = delegate()) d->applicationWillResignActive(self);
  post(UIApplicationWillResignActiveNotification, self);
}

void UIApplication::_becomeActive() {
  if (applicationState() == UIApplicationStateActive) return;
  if (applicationState() == UIApplicationStateBackground) _enterForeground();
  auto self = std::static_pointer_cast<UIApplication>(shared_from_this());
  _setApplicationState(UIApplicationStateActive);
  if (auto d = delegate()) d->applicationDidBecomeActive(self);
  post(UIApplicationDidBecomeActiveNotification, self);
}

void UIApplication::_enterBackground() {
  if (applicationState() == UIApplicationStateBackground) return;
  _resignActive();
  auto self = std::static_pointer_cast<UIApplication>(shared_from_this());
  _setApplicationState(UIApplicationStateBackground);
  if (auto d = delegate()) d->applicationDidEnterBackground(self);
  post(UIApplicationDidEnterBackgroundNotification, self);
}

void UIApplication::_enterForeground() {
  if (applicationState() != UIApplicationStateBackground) return;
  auto self = std::static_pointer_cast<UIApplication>(shared_from_this());
  _setApplicationState(UIApplicationStateInactive);
  if (auto d = delegate()) d->applicationWillEnterForeground(self);
  post(UIApplicationWillEnterForegroundNotification, self);
}

void UIApplication::_layoutWindowsIfNeeded() {
  for (const auto& window : windows()) window->_layoutSubtreeIfNeeded();
}

void UIApplication::_stopMainLoop(int status) {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    stopStatus_ = status;
  }
  CFRunLoopStop(CFRunLoopGetMain());
  // Also from inside the loop, for a request made while it was not yet running.
  dispatch_async(dispatch_get_main_queue(), [] { CFRunLoopStop(CFRunLoopGetMain()); });
}

bool UIApplication::_mainLoopStopRequested(int* status) const {
  std::lock_guard lock(mutex_);
  if (status) *status = stopStatus_;
  return stopRequested_;
}

// Windows --------------------------------------------------------------------

void UIApplication::_windowDidBecomeVisible(const std::shared_ptr<UIWindow>& window) {
  std::lock_guard lock(mutex_);
  std::erase_if(windows_, [&](const std::weak_ptr<UIWindow>& w) {
    auto alive = w.lock();
    return !alive || alive == window;
  });
  windows_.push_back(window);
}

void UIApplication::_windowDidBecomeHidden(UIWindow* window) {
  std::shared_ptr<UIWindow> resigned;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(windows_, [&](const std::weak_ptr<UIWindow>& w) {
      auto alive = w.lock();
      return !alive || alive.get() == window;
    });
    auto key = keyWindow_.lock();
    if (key.get() == window) {
      resigned = key;
      keyWindow_.reset();
    }
  }
  if (resigned) resigned->resignKeyWindow();
}

void UIApplication::_setKeyWindow(const std::shared_ptr<UIWindow>& window) {
  std::shared_ptr<UIWindow> old;
  {
    std::lock_guard lock(mutex_);
    old = keyWindow_.lock();
    if (old == window) return;
    keyWindow_ = window;
  }
  if (old) old->resignKeyWindow();
  if (window) window->becomeKeyWindow();
}

// UIApplicationMain ------------------------------------------------------------

int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName) {
  (void)argc;
  (void)argv;
  objc::Class* appClass = principalClassName ? objc::Class::named(*principalClassName) : nullptr;
  if (principalClassName && !appClass) NSLog("UIApplicationMain: no application class named %@", *principalClassName);
  auto app = makeShared(appClass);

  if (delegateClassName) {
    objc::Class* cls = objc::Class::named(*delegateClassName);
    auto delegate = cls ? objc::cast<UIApplicationDelegate>(cls->createInstance()) : nullptr;
    if (!delegate) NSLog("UIApplicationMain: cannot make an application delegate of class %@", *delegateClassName);
    app->setDelegate(delegate);
  }

  const char* launch = std::getenv("QUORVEL_LAUNCH_STATE");
  bool background = launch && std::string(launch) == "background";
  app->_setApplicationState(background ? UIApplicationStateBackground : UIApplicationStateInactive);
  if (auto delegate = app->delegate()) delegate->didFinishLaunchingWithOptions(app, {});
  NSNotificationCenter::defaultCenter().postNotificationName(UIApplicationDidFinishLaunchingNotification, app);
  if (!background) app->_becomeActive();

  int status = 0;
  while (!app->_mainLoopStopRequested(&status)) CFRunLoopRun();
  return status;
}
