// An on/off switch (51 x 31 points). isOn and setOn: live in the method table and
// the platform calls them through it. A tap toggles the switch and runs its
// value-changed actions; setOn: alone runs none.
#pragma once

#include "uikit/UIControl.h"

class UISwitch : public UIControl {
  QV_OBJC_DECLARE_CLASS(UISwitch)
 public:
  explicit UISwitch(CGRect frame = CGRectZero);

  bool isOn();            // sends "isOn"
  void setOn(bool on);    // sends "setOn:"
  void setOnAnimated(bool on, bool animated);  // setOn:animated:
  std::shared_ptr<UIColor> onTintColor() const;
  void setOnTintColor(const std::shared_ptr<UIColor>& color);

  void endTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event) override;
  CGSize sizeThatFits(CGSize size) override;
  CGSize intrinsicContentSize() override;

  // The stored state (what "isOn"/"setOn:" run by default).
  bool _isOnValue() const;
  void _setOnValue(bool on);

  static constexpr CGSize kSize{51, 31};

 private:
  bool on_ = false;
  std::shared_ptr<UIColor> onTintColor_;
};
