#include "uikit/UISwitch.h"

#include "class_support.h"

QV_OBJC_DEFINE_CLASS(UISwitch, UIControl, [](objc::Class* c) {
  c->addMethod<bool>("isOn", [](objc::Object& self) { return static_cast<UISwitch&>(self)._isOnValue(); });
  c->addMethod<void, bool>("setOn:", [](objc::Object& self, bool on) { static_cast<UISwitch&>(self)._setOnValue(on); });
})

UISwitch::UISwitch(CGRect frame) : UIControl(CGRect{frame.origin, kSize}), onTintColor_(UIColor::colorWithRed(0.2, 0.78, 0.35, 1)) {
  setOpaque(false);
}

bool UISwitch::isOn() { return objc::msgSend<bool>(*this, "isOn"); }
void UISwitch::setOn(bool on) { objc::msgSend<void, bool>(*this, "setOn:", on); }
void UISwitch::setOnAnimated(bool on, bool) { setOn(on); }

bool UISwitch::_isOnValue() const {
  std::lock_guard lock(mutex_);
  return on_;
}

void UISwitch::_setOnValue(bool on) {
  std::lock_guard lock(mutex_);
  on_ = on;
}

std::shared_ptr<UIColor> UISwitch::onTintColor() const {
  std::lock_guard lock(mutex_);
  return onTintColor_;
}

void UISwitch::setOnTintColor(const std::shared_ptr<UIColor>& color) {
  std::lock_guard lock(mutex_);
  onTintColor_ = color;
}

void UISwitch::endTrackingWithTouch(const std::shared_ptr<UITouch>&, const std::shared_ptr<UIEvent>& event) {
  if (!isTouchInside()) return;
  setOn(!isOn());
  sendActionsForControlEvents(UIControlEventValueChanged, event);
}

CGSize UISwitch::sizeThatFits(CGSize) { return kSize; }
CGSize UISwitch::intrinsicContentSize() { return kSize; }
