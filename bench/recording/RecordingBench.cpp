// What recording costs the application, on the sample application's login and
// settings screens and on a screen of 1,000 views, with the agent started in this
// process as its load hook starts it (servers on 9892 and 9898, polling hook,
// recorded-action thread, capture hook):
//   - main thread, per touch event: the platform's own dispatch alone, and the
//     dispatch through the capture hook (classifier, bucket), for touch began and
//     touch ended;
//   - the build of one step (element choice, properties, images) as the
//     recorded-action thread does it;
//   - finger up to the step's frame arriving at a recorder client on 127.0.0.1.
// The step sender looks at the step queue once a second, so the last figure is
// mostly that wait. Prints figures only.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Stats.h"
#include "Screens.h"
#include "foundation/runloop.h"
#include "quorvel/bootstrap/RecordControl.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/recording/ElementInfo.h"
#include "quorvel/recording/RecorderAction.h"
#include "quorvel/state/RecorderQueue.h"
#include "qvctl/Connection.h"
#include "touch_helpers.h"
#include "uikit/uikit.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

using bench::Stats;
using bench::stats;

void print(const char* what, const std::vector<double>& samples, const char* unit = "ms") {
  Stats s = stats(samples);
  std::printf("    %-52s median %9.3f %s  p99 %9.3f %s  (n=%zu)\n", what, s.median, unit, s.p99, unit, samples.size());
}

void turnMainLoop(Clock::duration d) {
  const auto until = Clock::now() + d;
  while (Clock::now() < until) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, false);
}

// Frames arriving at a recorder client, with their arrival times.
class RecorderClient {
 public:
  // Connects from a thread of its own: the agent greets a new client from the
  // main queue, so the main run loop turns meanwhile.
  bool connect() {
    reader_ = std::thread([this] {
      try {
        qvctl::Connection connection("127.0.0.1", qvctl::kRecorderPort, 5s);
        connection.readFrame(Clock::now() + 10s);  // the greeting
        connection_.emplace(std::move(connection));
      } catch (const qvctl::Error& e) {
        std::printf("  no recorder client (%s): latency not measured\n", e.what());
      }
      state_ = connection_ ? 1 : 2;
      if (!connection_) return;
      for (;;) {
        std::optional<std::string> frame;
        try {
          frame = connection_->readFrameOrEnd(std::nullopt);
        } catch (const qvctl::Error&) {
        }
        if (!frame) return;
        std::lock_guard lock(mutex_);
        arrivals_.push_back(Clock::now());
      }
    });
    reader_.detach();
    while (state_ == 0) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, false);
    return state_ == 1;
  }
  bool connected() const { return state_ == 1; }

  // The arrival of the next frame within `timeout`, the main run loop turning.
  std::optional<Clock::time_point> next(Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      {
        std::lock_guard lock(mutex_);
        if (!arrivals_.empty()) {
          auto t = arrivals_.front();
          arrivals_.pop_front();
          return t;
        }
      }
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.002, false);
    }
    return std::nullopt;
  }
  // Drops what arrived until nothing has come for `quiet`.
  void drain(Clock::duration quiet) {
    while (next(quiet)) {
    }
  }

 private:
  std::optional<qvctl::Connection> connection_;  // set before state_ turns 1
  std::atomic<int> state_{0};                      // 0 connecting, 1 connected, 2 failed
  std::thread reader_;
  std::mutex mutex_;
  std::deque<Clock::time_point> arrivals_;
};

struct Screen {
  const char* name;
  std::shared_ptr<UIWindow> window;
  std::vector<std::shared_ptr<UIView>> targets;  // views tapped, in turn
};

std::shared_ptr<UIWindow> showController(const std::shared_ptr<UIViewController>& controller) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  window->setRootViewController(controller);
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  return window;
}

std::shared_ptr<UIView> byIdentifier(const std::shared_ptr<UIView>& root, const std::string& identifier) {
  for (const auto& view : root->subviews()) {
    if (view->accessibilityIdentifier() == identifier) return view;
    if (auto found = byIdentifier(view, identifier)) return found;
  }
  return nullptr;
}

// 1,000 views: 100 rows, each a view holding eight labels and a button.
std::shared_ptr<UIWindow> thousandViews(std::vector<std::shared_ptr<UIView>>* targets) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  auto container = std::make_shared<UIView>(window->bounds());
  window->addSubview(container);
  for (int row = 0; row < 100; ++row) {
    auto line = std::make_shared<UIView>(CGRectMake(0, row * 8.4, 390, 8.4));
    for (int i = 0; i < 8; ++i) {
      auto label = std::make_shared<UILabel>(CGRectMake(i * 40, 0, 40, 8.4));
      label->setText("Item " + std::to_string(row) + "." + std::to_string(i));
      line->addSubview(label);
    }
    auto button = std::make_shared<UIButton>(CGRectMake(330, 0, 60, 8.4));
    button->setTitle("Go " + std::to_string(row), UIControlStateNormal);
    line->addSubview(button);
    container->addSubview(line);
    if (row % 25 == 12) {
      targets->push_back(button);
      targets->push_back(line->subviews()[3]);
    }
  }
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  return window;
}

void benchScreen(Screen& screen, RecorderClient& client) {
  std::printf("%s\n", screen.name);
  // The polling hook gives the views their recording GUIDs within a cycle or two.
  const auto deadline = Clock::now() + 5s;
  auto walked = [&] {
    for (const auto& t : screen.targets) {
      if (!ViewIdentity::getRecordingGUID(t)) return false;
    }
    return true;
  };
  while (!walked() && Clock::now() < deadline) turnMainLoop(20ms);

  auto app = UIApplication::sharedApplication();
  auto event = app->_touchesEvent();
  // One touch event through `dispatch`, timed.
  auto timed = [&](const std::shared_ptr<UITouch>& touch, UITouchPhase phase, auto dispatch) {
    touch->setPhase(phase);
    touch->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
    event->_clearTouches();
    event->_addTouch(touch, false);
    const auto start = Clock::now();
    dispatch(event);
    return ms(Clock::now() - start);
  };
  auto newTouch = [&](const std::shared_ptr<UIView>& target) {
    CGPoint p = uikittest::middleInWindow(target);
    auto touch = std::make_shared<UITouch>();
    touch->setWindow(screen.window);
    touch->setTapCount(1);
    touch->_setLocationInWindow(p, true);
    touch->setView(screen.window->hitTest(p, nullptr));
    touch->_setIsFirstTouchForView(true);
    touch->setIsTap(true);
    return touch;
  };

  const int taps = 200;
  std::vector<double> platformBegan, platformEnded, hookBegan, hookEnded;
  for (int i = 0; i < taps; ++i) {
    const auto& target = screen.targets[static_cast<std::size_t>(i) % screen.targets.size()];
    auto touch = newTouch(target);
    if (i % 2 == 0) {
      platformBegan.push_back(timed(touch, UITouchPhaseBegan, [&](auto& e) { app->_dispatchEvent(e); }));
      platformEnded.push_back(timed(touch, UITouchPhaseEnded, [&](auto& e) { app->_dispatchEvent(e); }));
    } else {
      hookBegan.push_back(timed(touch, UITouchPhaseBegan, [&](auto& e) { app->sendEvent(e); }));
      hookEnded.push_back(timed(touch, UITouchPhaseEnded, [&](auto& e) { app->sendEvent(e); }));
    }
    turnMainLoop(5ms);
  }
  print("touch began, platform dispatch alone", platformBegan);
  print("touch began, through the capture hook", hookBegan);
  print("touch ended, platform dispatch alone", platformEnded);
  print("touch ended, through the capture hook", hookEnded);

  // A kept touch costs the main thread the capture of its step before the
  // application handles the touch: the element under the finger, its properties,
  // its parent's, its image rendered. The recorded-action thread then finishes the
  // step: the action a switch's state names, the JPEG, the step queue.
  std::vector<double> captures, finishes;
  for (int i = 0; i < 200; ++i) {
    const auto& target = screen.targets[static_cast<std::size_t>(i) % screen.targets.size()];
    const CGPoint p = uikittest::middleInWindow(target);
    auto touched = screen.window->hitTest(p, nullptr);
    const CGPoint at = touched->convertPointFromView(p, nullptr);
    auto recorder = std::make_shared<RecorderAction>();
    auto start = Clock::now();
    auto capture = recorder->captureStep("Click", touched, recorder->getElementOfTouch(touched, at.x, at.y), "",
                                         at.x, at.y);
    captures.push_back(ms(Clock::now() - start));
    if (i >= 40) continue;
    start = Clock::now();
    recorder->finishStep(*capture);
    finishes.push_back(ms(Clock::now() - start));
  }
  print("capture per kept touch (main thread, before dispatch)", captures);
  print("step finish (recorded-action thread: state, JPEG)", finishes);

  if (!client.connected()) return;
  client.drain(1500ms);
  // Taps at random moments, as a person's come: a tap right after a frame would
  // always wait the step sender's whole second.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause(0, 1000);
  std::vector<double> latency;
  int lost = 0;
  for (int i = 0; i < 24; ++i) {
    turnMainLoop(std::chrono::milliseconds(pause(random)));
    const auto& target = screen.targets[static_cast<std::size_t>(i) % screen.targets.size()];
    auto touch = newTouch(target);
    timed(touch, UITouchPhaseBegan, [&](auto& e) { app->sendEvent(e); });
    const auto up = Clock::now();
    timed(touch, UITouchPhaseEnded, [&](auto& e) { app->sendEvent(e); });
    if (auto arrived = client.next(5s)) {
      latency.push_back(ms(*arrived - up));
    } else {
      ++lost;
    }
  }
  print("finger up to the step's frame at the client", latency);
  if (lost) std::printf("    %d taps gave no frame within 5 s\n", lost);
}

}  // namespace

int main() {
  QuorvelRunLoadHooks();
  RecorderClient client;
  client.connect();

  std::vector<Screen> screens;
  {
    auto login = std::make_shared<LoginViewController>();
    Screen s{"sample login screen", showController(login), {}};
    for (const char* id : {"loginButton", "rememberSwitch", "loginTitle", "userField"}) {
      if (auto v = byIdentifier(s.window, id)) s.targets.push_back(v);
    }
    benchScreen(s, client);
  }
  {
    auto settings = std::make_shared<SettingsViewController>();
    Screen s{"sample settings screen", showController(settings), {}};
    for (const char* id : {"notificationsSwitch", "sizeControl", "tapArea", "deepLabel", "customToggle", "logoImage"}) {
      if (auto v = byIdentifier(s.window, id)) s.targets.push_back(v);
    }
    benchScreen(s, client);
  }
  {
    Screen s{"1,000-view screen", nullptr, {}};
    s.window = thousandViews(&s.targets);
    benchScreen(s, client);
  }
  std::printf("(the step sender looks at the step queue once every 1.0 s: that wait, 0 to 1 s, dominates the\n"
              " latency; the recorded-action thread adds up to 0.1 s, then the step finish)\n");
  std::fflush(stdout);
  std::_Exit(0);  // the agent's threads are never stopped
}
