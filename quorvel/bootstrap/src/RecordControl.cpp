#include "quorvel/bootstrap/RecordControl.h"

#include <mutex>

#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "quorvel/channel/TcpChannel.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/recording/CaptureHooks.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/web/WebView.h"
#include "uikit/UIApplication.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(RecordControl, objc::Object)

namespace {

// Never destroyed, like everything a polling cycle touches: cycles keep running on
// their background thread while the process runs its exit handlers.
std::mutex& observerMutex() {
  static auto* m = new std::mutex;
  return *m;
}

RecordControl::CycleObserver& cycleObserver() {
  static auto* observer = new RecordControl::CycleObserver;
  return *observer;
}

void notifyObserver(bool started) {
  RecordControl::CycleObserver observer;
  {
    std::lock_guard lock(observerMutex());
    observer = cycleObserver();
  }
  if (observer) observer(started);
}

}  // namespace

void RecordControl::setCycleObserver(CycleObserver observer) {
  std::lock_guard lock(observerMutex());
  cycleObserver() = std::move(observer);
}

void RecordControl::load() {
  ElementsQueue::sharedInstance()->startRecorderActionThread();
  std::make_shared<TcpChannel>()->start();
  auto vars = GlobalVars::sharedInstance();
  vars->set_spyMode("false");
  vars->set_viewControllerLoaded("LOADED");
  dispatchHook();
}

void RecordControl::dispatchHook() {
  GlobalVars::sharedInstance();
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(kPollingPeriod * NSEC_PER_SEC)),
                 dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [] {
                   pollingCycle();
                   dispatchHook();
                 });
}

void RecordControl::pollingCycle() {
  notifyObserver(true);
  auto vars = GlobalVars::sharedInstance();
  if (vars->_isPlaybackStarted() == std::string("true")) {
    // Playback: only the web scripts are kept injected.
    std::make_shared<WebView>()->performRecorderAndPlaybackInjection();
  } else if (auto window = UIApplication::sharedApplication()->keyWindow()) {
    vars->set_uiWindow(window);
    // A full refresh of the view inventory; the list itself is not needed here.
    std::make_shared<UIViewsManager>()->GetAllViews(window, true, UIViewsManager::keepNone());
    std::make_shared<WebView>()->performRecorderAndPlaybackInjection();
  } else {
    NSLog("WINDOW IS NULL");
  }
  notifyObserver(false);
}

void QuorvelRunLoadHooks() {
  // The agent starts once per process, however often its image is loaded: a
  // library both linked by the application and preloaded runs its constructor once
  // per copy. The marker class is registered in the one platform runtime that all
  // copies share, and only the first registration succeeds.
  static std::once_flag once;
  bool first = false;
  std::call_once(once, [&first] {
    first = objc::Class::allocateClassPair(objc::Object::classObject(), "QuorvelAgentStarted") != nullptr;
  });
  if (!first) return;
  RecordControl::load();
  UIWindow_UIWindow::load(UIWindow::classObject());
  UIApplication_ToolkitAdditions::load(UIApplication::classObject());
  UIViewController_UIViewController::load(UIViewController::classObject());
}
