#include "uikit/UIWindow.h"

#include <algorithm>
#include <map>

#include "class_support.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIKeyboard.h"
#include "uikit/UIScreen.h"
#include "uikit/UITouch.h"
#include "uikit/UIViewController.h"

QV_OBJC_DEFINE_CLASS(UIWindow, UIView, [](objc::Class* c) {
  c->addMethod<void, std::shared_ptr<UIEvent>>("sendEvent:", [](objc::Object& self, std::shared_ptr<UIEvent> event) {
    static_cast<UIWindow&>(self)._dispatchEvent(event);
  });
})

UIWindow::UIWindow(CGRect frame) : UIView(frame) { setHiddenFlag(true); }

UIWindow::~UIWindow() = default;

void UIWindow::makeKeyAndVisible() {
  setHidden(false);
  makeKeyWindow();
}

void UIWindow::makeKeyWindow() {
  if (!_canBecomeKeyWindow()) return;
  if (auto self = std::static_pointer_cast<UIWindow>(selfView())) UIApplication::sharedApplication()->_setKeyWindow(self);
}

bool UIWindow::isKeyWindow() const { return UIApplication::sharedApplication()->keyWindow().get() == this; }

void UIWindow::setHidden(bool hidden) {
  bool was = isHidden();
  UIView::setHidden(hidden);
  if (was == hidden) return;
  auto app = UIApplication::sharedApplication();
  if (!hidden) {
    if (auto self = std::static_pointer_cast<UIWindow>(selfView())) app->_windowDidBecomeVisible(self);
    _appearRootIfVisible();
  } else {
    app->_windowDidBecomeHidden(this);
  }
}

UIWindowLevel UIWindow::windowLevel() const {
  std::lock_guard lock(mutex_);
  return windowLevel_;
}

void UIWindow::setWindowLevel(UIWindowLevel level) {
  std::lock_guard lock(mutex_);
  windowLevel_ = level;
}

std::shared_ptr<UIScreen> UIWindow::screen() const { return UIScreen::mainScreen(); }

std::shared_ptr<UIViewController> UIWindow::rootViewController() const {
  std::lock_guard lock(mutex_);
  return rootViewController_;
}

void UIWindow::setRootViewController(const std::shared_ptr<UIViewController>& controller) {
  std::shared_ptr<UIViewController> old;
  {
    std::lock_guard lock(mutex_);
    if (rootViewController_ == controller) return;
    old = rootViewController_;
    rootViewController_ = controller;
  }
  bool visible = !isHidden();
  if (old) {
    if (visible) old->_beginDisappearance(false);
    if (auto view = old->viewIfLoaded()) view->removeFromSuperview();
    if (visible) old->_endDisappearance(false);
  }
  if (!controller) return;
  auto view = controller->view();
  view->setFrame(bounds());
  if (visible) controller->_beginAppearance(false);
  addSubview(view);
  if (visible) controller->_endAppearance(false);
}

void UIWindow::_appearRootIfVisible() {
  auto controller = rootViewController();
  if (!controller || isHidden() || controller->_isAppeared()) return;
  controller->_beginAppearance(false);
  controller->_endAppearance(false);
}

void UIWindow::sendEvent(const std::shared_ptr<UIEvent>& event) {
  objc::msgSend<void, std::shared_ptr<UIEvent>>(*this, "sendEvent:", event);
}

std::shared_ptr<UIResponder> UIWindow::nextResponder() const { return UIApplication::sharedApplication(); }

// First responder ------------------------------------------------------------

std::shared_ptr<UIResponder> UIWindow::_firstResponder() const {
  std::lock_guard lock(mutex_);
  return firstResponder_.lock();
}

bool UIWindow::_setFirstResponder(const std::shared_ptr<UIResponder>& responder) {
  auto old = _firstResponder();
  if (old == responder) return true;
  if (old && !old->canResignFirstResponder()) return false;
  {
    std::lock_guard lock(mutex_);
    firstResponder_ = responder;
  }
  if (old) old->_didResignFirstResponder();
  if (responder) responder->_didBecomeFirstResponder();
  UIKeyboard::_firstResponderDidChange(UIApplication::sharedApplication()->_firstResponder());
  return true;
}

void UIWindow::_resignFirstResponderInside(const std::shared_ptr<UIView>& root) {
  auto view = std::dynamic_pointer_cast<UIView>(_firstResponder());
  if (view && view->isDescendantOfView(root)) {
    {
      std::lock_guard lock(mutex_);
      firstResponder_.reset();
    }
    view->_didResignFirstResponder();
    UIKeyboard::_firstResponderDidChange(UIApplication::sharedApplication()->_firstResponder());
  }
}

// Touch dispatch -------------------------------------------------------------

namespace {

enum class Delivery { Began, Moved, Ended, Cancelled };

struct Group {
  Delivery delivery;
  std::shared_ptr<UIView> view;
  UITouchSet touches;
};

bool recognizerTookTouch(const std::shared_ptr<UITouch>& touch) {
  for (const auto& recognizer : touch->gestureRecognizers()) {
    if (recognizer->isEnabled() && recognizer->cancelsTouchesInView() && recognizer->_hasRecognized()) return true;
  }
  return false;
}

void addToGroup(std::vector<Group>& groups, Delivery delivery, const std::shared_ptr<UIView>& view,
                const std::shared_ptr<UITouch>& touch) {
  for (auto& g : groups) {
    if (g.delivery == delivery && g.view == view) {
      g.touches.push_back(touch);
      return;
    }
  }
  groups.push_back({delivery, view, {touch}});
}

}  // namespace

void UIWindow::_dispatchEvent(const std::shared_ptr<UIEvent>& event) {
  if (!event || event->type() != UIEventTypeTouches) return;
  auto self = std::static_pointer_cast<UIWindow>(selfView());
  if (!self) return;
  auto touches = event->touchesForWindow(self);
  if (touches.empty()) return;

  // Gesture recognisers first: those of the touched view and its ancestors, fixed
  // when the touch begins.
  std::vector<std::shared_ptr<UIGestureRecognizer>> involved;
  for (const auto& touch : touches) {
    if (touch->phase() == UITouchPhaseBegan) {
      std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers;
      for (auto v = touch->view(); v; v = v->superview()) {
        for (const auto& r : v->gestureRecognizers()) {
          if (r->isEnabled()) recognizers.push_back(r);
        }
      }
      touch->_setGestureRecognizers(recognizers);
      touch->_setDeliveryCancelled(false);
    }
    for (const auto& r : touch->gestureRecognizers()) {
      if (std::find(involved.begin(), involved.end(), r) == involved.end()) involved.push_back(r);
      r->_handleTouches(touch->phase(), {touch}, event);
    }
  }

  // Then the touched views, phase by phase; a touch that a recogniser took is
  // cancelled for its view once.
  std::vector<Group> groups;
  for (const auto& touch : touches) {
    auto view = touch->view();
    if (!view || touch->_deliveryCancelled()) continue;
    UITouchPhase phase = touch->phase();
    if (phase == UITouchPhaseStationary) continue;
    if (phase != UITouchPhaseBegan && recognizerTookTouch(touch)) {
      touch->_setDeliveryCancelled(true);
      addToGroup(groups, Delivery::Cancelled, view, touch);
      continue;
    }
    Delivery d = phase == UITouchPhaseBegan   ? Delivery::Began
                 : phase == UITouchPhaseMoved ? Delivery::Moved
                 : phase == UITouchPhaseEnded ? Delivery::Ended
                                              : Delivery::Cancelled;
    addToGroup(groups, d, view, touch);
  }
  for (Delivery d : {Delivery::Began, Delivery::Moved, Delivery::Ended, Delivery::Cancelled}) {
    for (const auto& g : groups) {
      if (g.delivery != d) continue;
      switch (d) {
        case Delivery::Began: g.view->touchesBegan(g.touches, event); break;
        case Delivery::Moved: g.view->touchesMoved(g.touches, event); break;
        case Delivery::Ended: g.view->touchesEnded(g.touches, event); break;
        case Delivery::Cancelled: g.view->touchesCancelled(g.touches, event); break;
      }
    }
  }

  for (const auto& r : involved) r->_handleTouches(-1, {}, event);  // finish recognisers that are done
}
