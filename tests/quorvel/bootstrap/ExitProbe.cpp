// A process that starts the agent as its load hook does and ends with exit() from
// the main thread while every background cycle has work in flight: a polling cycle
// under way, highlight restores pending, steps queued for the sender, and a
// background queue posting to the main run loop. Static destruction then runs
// beside them, and they go on for a while after it; the exit status is 0 unless one
// of them met something destroyed (which crashes, or is reported by the sanitizer
// builds and memory checkers).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "dispatch/dispatch.h"
#include "foundation/runloop.h"
#include "quorvel/bootstrap/RecordControl.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"

namespace {

std::atomic<int> cyclesStarted{0};

// Runs after every static object of the process has been destroyed, since it is
// registered before any of them is made: it holds the exit there for a while, as
// slow exit handlers of an application would, while the background cycles go on.
void holdExitAfterStaticDestruction() { std::this_thread::sleep_for(std::chrono::milliseconds(400)); }
void registerLastExitHandler() { std::atexit(holdExitAfterStaticDestruction); }
[[gnu::section(".preinit_array"), gnu::used]] void (*const registerLastExitHandlerFirst)() = registerLastExitHandler;

}  // namespace

int main() {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  std::vector<std::shared_ptr<UIView>> views;
  for (int row = 0; row < 40; ++row) {
    auto container = std::make_shared<UIView>(CGRectMake(0, row * 20, 390, 20));
    window->addSubview(container);
    for (int column = 0; column < 8; ++column) {
      auto label = std::make_shared<UILabel>(CGRectMake(column * 48, 0, 44, 20));
      label->setText(std::string("cell"));
      container->addSubview(label);
      views.push_back(label);
    }
  }
  window->makeKeyAndVisible();

  // A cycle that has started stays under way for a while, so that the exit below
  // overlaps it.
  RecordControl::setCycleObserver([](bool started) {
    if (!started) return;
    ++cyclesStarted;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  QuorvelRunLoadHooks();
  for (int i = 0; i < 20; ++i) UIView_ToolkitAdditions::highlightView(views[static_cast<std::size_t>(i)]);
  for (int i = 0; i < 50; ++i) RecorderQueue::get()->enqueue(JSONValue::array({{{"step", i}}}));
  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [] {
    for (;;) {
      NSRunLoop::performOnMainThread([] {}, false);
      CFRunLoopPerformBlock(CFRunLoopGetCurrent(), kCFRunLoopDefaultMode, [] {});
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (cyclesStarted < 2 && std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false);
  }
  std::exit(cyclesStarted >= 2 ? 0 : 3);
}
