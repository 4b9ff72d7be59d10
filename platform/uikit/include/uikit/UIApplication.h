// The application object: the shared instance, its windows and key window, the
// delegate, the life-cycle state, background tasks and event dispatch.
//
// sendEvent: lives in the method table and the platform always calls it through
// the table (objc::msgSend), so exchanging its implementation with another
// method's redirects every dispatched event. The default implementation hands a
// touches event to the windows of its touches (each window's sendEvent:).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/runloop.h"
#include "uikit/CGGeometry.h"
#include "uikit/UIResponder.h"

class UIWindow;
class UIView;
class UIEvent;
class UIApplicationDelegate;

enum UIApplicationState : long {
  UIApplicationStateActive = 0,
  UIApplicationStateInactive = 1,
  UIApplicationStateBackground = 2,
};

using UIBackgroundTaskIdentifier = unsigned long;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

// The run-loop mode of tracking (a drag in progress); one of the main run loop's
// common modes.
extern const CFRunLoopMode& UITrackingRunLoopMode;  // "UITrackingRunLoopMode"

inline constexpr const char* UIApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* UIApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";

class UIApplication : public UIResponder {
  QV_OBJC_DECLARE_CLASS(UIApplication)
 public:
  UIApplication();
  ~UIApplication() override;

  // The one application object; made on first use (or by UIApplicationMain with
  // its principal class).
  static std::shared_ptr<UIApplication> sharedApplication();

  std::shared_ptr<UIWindow> keyWindow() const;
  // The visible windows, back to front (by window level, then in the order shown).
  std::vector<std::shared_ptr<UIWindow>> windows() const;

  std::shared_ptr<UIApplicationDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UIApplicationDelegate>& delegate);

  UIApplicationState applicationState() const;

  // Dispatches an event: sends "sendEvent:" through the method table.
  void sendEvent(const std::shared_ptr<UIEvent>& event);
  // The platform's own dispatch (what "sendEvent:" runs by default).
  void _dispatchEvent(const std::shared_ptr<UIEvent>& event);

  // The shared touches event that the platform reuses for every touch delivery.
  std::shared_ptr<UIEvent> _touchesEvent();

  UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  void endBackgroundTask(UIBackgroundTaskIdentifier identifier);
  std::size_t _backgroundTaskCount() const;
  // What the system does when the application's background time runs out: every
  // task still running is ended and its expiration handler runs, on the calling
  // thread, in the order the tasks were begun. Returns how many expired.
  std::size_t _expireBackgroundTasks();

  // The first responder of the key window, else of any visible window.
  std::shared_ptr<UIResponder> _firstResponder() const;
  // The front-most visible window whose hit test finds a view at `screenPoint`
  // (screen coordinates); *hitView receives that view.
  std::shared_ptr<UIWindow> _windowAtScreenPoint(CGPoint screenPoint, std::shared_ptr<UIView>* hitView = nullptr) const;

  // Life-cycle hooks for the host (each notifies the delegate and posts the
  // matching notification): active -> inactive -> background and back.
  void _resignActive();
  void _becomeActive();
  void _enterBackground();
  void _enterForeground();
  void _setApplicationState(UIApplicationState state);  // no callbacks

  // Lays out the marked views of every visible window (the main queue does this
  // after setNeedsLayout).
  void _layoutWindowsIfNeeded();

  // Makes UIApplicationMain's run loop return `status` (hosts and tests).
  void _stopMainLoop(int status);
  bool _mainLoopStopRequested(int* status) const;

  // Window bookkeeping (UIWindow).
  void _windowDidBecomeVisible(const std::shared_ptr<UIWindow>& window);
  void _windowDidBecomeHidden(UIWindow* window);
  void _setKeyWindow(const std::shared_ptr<UIWindow>& window);

 private:
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<UIWindow>> windows_;  // in the order shown
  std::weak_ptr<UIWindow> keyWindow_;
  std::shared_ptr<UIApplicationDelegate> delegate_;
  UIApplicationState state_ = UIApplicationStateActive;
  std::shared_ptr<UIEvent> touchesEvent_;
  std::map<UIBackgroundTaskIdentifier, std::function<void()>> backgroundTasks_;
  UIBackgroundTaskIdentifier nextBackgroundTask_ = 1;
  bool stopRequested_ = false;
  int stopStatus_ = 0;
};

// Makes the application (of `principalClassName` when given, else UIApplication),
// instantiates the delegate by class name, launches (didFinishLaunchingWithOptions,
// then becomes active unless QUORVEL_LAUNCH_STATE=background) and runs the main run
// loop until _stopMainLoop, returning its status. Never returns otherwise.
int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName);
