#include <optional>
#include "touch_screen.h"

#include <cmath>
#include <cstdio>

#include "foundation/process_info.h"
#include "hid/IOHIDEvent.h"
#include "hid/mach_time.h"
#include "uikit/CATransaction.h"
#include "uikit/UIGraphics.h"
#include "uikit/uikit.h"

namespace device_input {

namespace {

// The finger on the screen (main thread only).
struct FingerState {
  std::shared_ptr<UITouch> touch;
  CGPoint startOnScreen;
};
std::optional<FingerState> finger;

// The last lift, for counting repeated taps.
struct LastTap {
  double time = -1;
  CGPoint screenPoint;
  unsigned long count = 0;
};
LastTap lastTap;

double now() { return NSProcessInfo::processInfo()->systemUptime(); }

double distance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

CGPoint windowToScreen(const std::shared_ptr<UIWindow>& window, CGPoint p) {
  CGRect f = window->frame(), b = window->bounds();
  return {p.x - b.origin.x + f.origin.x, p.y - b.origin.y + f.origin.y};
}

CGPoint screenToWindow(const std::shared_ptr<UIWindow>& window, CGPoint p) {
  CGRect f = window->frame(), b = window->bounds();
  return {p.x - f.origin.x + b.origin.x, p.y - f.origin.y + b.origin.y};
}

// The digitizer's record of one finger: a hand event with the finger as its child.
IOHIDEventRef digitizerRecord(const std::shared_ptr<UITouch>& touch) {
  AbsoluteTime time = mach_absolute_time();
  IOHIDEventRef hand = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, time, kIOHIDDigitizerTransducerTypeHand, 0,
                                                      0, kIOHIDDigitizerEventTouch, 0, 0, 0, 0, 0, 0, false, true, 0);
  IOHIDEventSetIntegerValue(hand, kIOHIDEventFieldDigitizerIsDisplayIntegrated, 1);
  UITouchPhase phase = touch->phase();
  bool touching = phase != UITouchPhaseEnded && phase != UITouchPhaseCancelled;
  std::uint32_t mask = phase == UITouchPhaseMoved ? kIOHIDDigitizerEventPosition
                                                  : (kIOHIDDigitizerEventRange | kIOHIDDigitizerEventTouch);
  CGPoint p = touch->locationInView(nullptr);
  IOHIDEventRef child = IOHIDEventCreateDigitizerFingerEventWithQuality(
      kCFAllocatorDefault, time, 1, 2, mask, p.x, p.y, 0, 0, 0, 5, 5, 1, 1, 1, touching, touching, 0);
  IOHIDEventSetIntegerValue(child, kIOHIDEventFieldDigitizerIsDisplayIntegrated, 1);
  IOHIDEventAppendEvent(hand, child);
  CFRelease(child);
  return hand;
}

// Delivers the touch's current phase through the application's sendEvent:.
void deliver(const std::shared_ptr<UITouch>& touch) {
  auto app = UIApplication::sharedApplication();
  auto event = app->_touchesEvent();
  event->_clearTouches();
  IOHIDEventRef record = digitizerRecord(touch);
  event->_setHIDEvent(record);
  CFRelease(record);
  event->_setTimestamp(touch->timestamp());
  event->_addTouch(touch, false);
  app->sendEvent(event);
}

// The screen point of a key-window point, or an error.
std::optional<CGPoint> screenPoint(CGPoint pointInKeyWindow, std::string* error) {
  auto key = UIApplication::sharedApplication()->keyWindow();
  if (!key) {
    *error = "error: no key window";
    return std::nullopt;
  }
  CGPoint p = windowToScreen(key, pointInKeyWindow);
  CGRect screen = UIScreen::mainScreen()->bounds();
  if (p.x < screen.origin.x || p.y < screen.origin.y || p.x > CGRectGetMaxX(screen) || p.y > CGRectGetMaxY(screen)) {
    *error = "error: point outside the screen";
    return std::nullopt;
  }
  return p;
}

std::string okWithView(const std::shared_ptr<UIView>& view) { return view ? "ok " + view->className() : "ok"; }

}  // namespace

std::string fingerDown(CGPoint pointInKeyWindow) {
  if (finger) return "error: the finger is already down";
  std::string error;
  auto screen = screenPoint(pointInKeyWindow, &error);
  if (!screen) return error;
  auto app = UIApplication::sharedApplication();
  std::shared_ptr<UIView> hit;
  auto window = app->_windowAtScreenPoint(*screen, &hit);
  if (!window) window = app->keyWindow();  // over no view: the touch still belongs to the screen's key window

  double timestamp = now();
  bool repeated = lastTap.count > 0 && timestamp - lastTap.time <= UITapGestureRecognizer::kMaximumTapInterval &&
                  distance(*screen, lastTap.screenPoint) <= UITapGestureRecognizer::kAllowableMovement;
  auto touch = std::make_shared<UITouch>();
  touch->setWindow(window);
  touch->setTapCount(repeated ? lastTap.count + 1 : 1);
  touch->_setLocationInWindow(screenToWindow(window, *screen), true);
  touch->setView(hit);
  touch->setPhase(UITouchPhaseBegan);
  touch->_setIsFirstTouchForView(true);
  touch->setIsTap(true);
  touch->setTimestamp(timestamp);
  if (touch->respondsToSelector("setGestureView:")) touch->setGestureView(hit);
  IOHIDEventRef record = digitizerRecord(touch);
  touch->_setHidEvent(record);
  CFRelease(record);
  finger = FingerState{touch, *screen};
  deliver(touch);
  return okWithView(hit);
}

// Moves the finger that is down to a point and gives its touch `phase`; the
// screen point, or absent with `error` set.
std::optional<CGPoint> moveFinger(CGPoint pointInKeyWindow, UITouchPhase phase, std::string* error) {
  if (!finger) {
    *error = "error: no finger is down";
    return std::nullopt;
  }
  auto screen = screenPoint(pointInKeyWindow, error);
  if (!screen) return std::nullopt;
  auto touch = finger->touch;
  auto window = touch->window();
  touch->setTimestamp(now());
  if (window) touch->_setLocationInWindow(screenToWindow(window, *screen), false);
  if (distance(*screen, finger->startOnScreen) > UITapGestureRecognizer::kAllowableMovement) touch->setIsTap(false);
  touch->setPhase(phase);
  return screen;
}

std::string fingerMove(CGPoint pointInKeyWindow) {
  std::string error;
  if (!moveFinger(pointInKeyWindow, UITouchPhaseMoved, &error)) return error;
  deliver(finger->touch);
  return "ok";
}

std::string fingerUp(CGPoint pointInKeyWindow) {
  std::string error;
  auto screen = moveFinger(pointInKeyWindow, UITouchPhaseEnded, &error);
  if (!screen) return error;
  auto touch = finger->touch;
  finger.reset();
  lastTap = touch->isTap() ? LastTap{touch->timestamp(), *screen, touch->tapCount()} : LastTap{};
  deliver(touch);
  return "ok";
}

std::string liftOrCancelFinger(CGPoint pointInKeyWindow) {
  if (!finger) return "error: no finger is down";
  std::string answer = fingerUp(pointInKeyWindow);
  if (answer == "ok" || !finger) return answer;
  auto touch = finger->touch;
  finger.reset();
  lastTap = LastTap{};
  touch->setTimestamp(now());
  touch->setPhase(UITouchPhaseCancelled);
  deliver(touch);
  return answer;
}

std::string typeText(const std::string& text) {
  if (!UIKeyboard::typeText(text)) return "error: no text input is first responder";
  return "ok";
}

std::shared_ptr<UIImage> screenImage() { return UIScreenSnapshotImage(true); }

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// What a person reads on the view.
std::optional<std::string> visibleText(const std::shared_ptr<UIView>& view) {
  if (auto label = std::dynamic_pointer_cast<UILabel>(view)) return label->text();
  if (auto button = std::dynamic_pointer_cast<UIButton>(view)) return button->currentTitle();
  if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
    std::string text = field->text().value_or("");
    return text.empty() ? field->placeholder() : text;
  }
  if (auto textView = std::dynamic_pointer_cast<UITextView>(view)) return textView->text();
  if (auto segment = std::dynamic_pointer_cast<UISegment>(view)) return segment->title();
  if (auto tab = std::dynamic_pointer_cast<UITabBarButton>(view)) return tab->title();
  if (auto item = std::dynamic_pointer_cast<UINavigationItemView>(view)) return item->title();
  if (auto back = std::dynamic_pointer_cast<_UINavigationBarBackIndicatorView>(view)) return back->backTitle();
  return std::nullopt;
}

// Deeper views are left out rather than risking the main thread's stack.
constexpr int kMaxTreeDepth = 256;

void appendTree(const std::shared_ptr<UIView>& view, int depth, std::vector<std::string>& lines) {
  if (depth > kMaxTreeDepth) return;
  lines.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') + describeView(view));
  for (const auto& subview : view->subviews()) appendTree(subview, depth + 1, lines);
}

}  // namespace

std::string describeView(const std::shared_ptr<UIView>& view) {
  std::string line = view->className() + " " + NSStringFromCGRect(view->convertRectToView(view->bounds(), nullptr)) +
                     " hidden=" + (view->isHidden() ? "1" : "0");
  if (auto toggle = std::dynamic_pointer_cast<UISwitch>(view)) line += std::string(" on=") + (toggle->isOn() ? "1" : "0");
  if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
    line += " selected=" + std::to_string(control->selectedSegmentIndex());
  }
  if (auto text = visibleText(view)) line += " text=" + quoted(*text);
  if (auto identifier = view->accessibilityIdentifier()) line += " id=" + quoted(*identifier);
  if (auto layer = view->layer(); layer && layer->borderWidth() > 0) {
    char width[32];
    std::snprintf(width, sizeof width, "%g", layer->borderWidth());
    line += std::string(" border=") + width;
  }
  return line;
}

std::optional<std::vector<std::string>> keyWindowTree() {
  auto key = UIApplication::sharedApplication()->keyWindow();
  if (!key) return std::nullopt;
  CATransaction::flush();
  std::vector<std::string> lines;
  appendTree(key, 0, lines);
  return lines;
}

}  // namespace device_input
