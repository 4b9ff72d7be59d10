// Colours: UIColor (RGBA components in 0...1) and its CoreGraphics value CGColorRef,
// an immutable shared colour. Both compare equal by their four components.
#pragma once

#include <memory>
#include <string>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

struct CGColor {
  CGFloat red = 0, green = 0, blue = 0, alpha = 0;
};
// A reference to an immutable colour. Holding a copy keeps the colour alive, as a
// retained CGColorRef does.
using CGColorRef = std::shared_ptr<const CGColor>;

CGColorRef CGColorCreateSRGB(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
CGColorRef CGColorCreateGenericGray(CGFloat gray, CGFloat alpha);
// Equal when both are absent, or both present with the same four components.
bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b);
CGFloat CGColorGetAlpha(const CGColorRef& color);  // 0 for an absent colour
// {red, green, blue, alpha}; all zero for an absent colour.
struct CGColorComponents {
  CGFloat c[4];
};
CGColorComponents CGColorGetComponents(const CGColorRef& color);

class UIColor : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIColor)
 public:
  UIColor() = default;
  UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);

  static std::shared_ptr<UIColor> colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
  static std::shared_ptr<UIColor> colorWithWhite(CGFloat white, CGFloat alpha);
  static std::shared_ptr<UIColor> colorWithCGColor(const CGColorRef& color);  // nullptr for absent

  static std::shared_ptr<UIColor> blackColor();
  static std::shared_ptr<UIColor> whiteColor();
  static std::shared_ptr<UIColor> clearColor();
  static std::shared_ptr<UIColor> redColor();
  static std::shared_ptr<UIColor> greenColor();
  static std::shared_ptr<UIColor> blueColor();
  static std::shared_ptr<UIColor> grayColor();
  static std::shared_ptr<UIColor> lightGrayColor();
  static std::shared_ptr<UIColor> darkGrayColor();
  static std::shared_ptr<UIColor> systemBlueColor();

  // getRed:green:blue:alpha: — always succeeds (every colour is RGBA here).
  bool getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
  CGFloat red() const { return red_; }
  CGFloat green() const { return green_; }
  CGFloat blue() const { return blue_; }
  CGFloat alpha() const { return alpha_; }

  CGColorRef CGColor() const;  // the same colour as a CoreGraphics value
  std::shared_ptr<UIColor> colorWithAlphaComponent(CGFloat alpha) const;
  bool isEqual(const UIColor& other) const;
  std::string description() const override;  // "UIExtendedSRGBColorSpace r g b a"

 private:
  CGFloat red_ = 0, green_ = 0, blue_ = 0, alpha_ = 0;
};

bool operator==(const UIColor& a, const UIColor& b);  // by components
// Equal when both are absent, or both present with equal components.
bool UIColorEqualToColor(const std::shared_ptr<UIColor>& a, const std::shared_ptr<UIColor>& b);
