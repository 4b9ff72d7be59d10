#include <algorithm>
#include <cstdio>

#include "uikit/UIColor.h"

namespace {
CGFloat clamp01(CGFloat v) { return std::clamp(v, 0.0, 1.0); }
}  // namespace

CGColorRef CGColorCreateSRGB(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
  return std::make_shared<const CGColor>(CGColor{clamp01(red), clamp01(green), clamp01(blue), clamp01(alpha)});
}

CGColorRef CGColorCreateGenericGray(CGFloat gray, CGFloat alpha) { return CGColorCreateSRGB(gray, gray, gray, alpha); }

bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b) {
  if (!a || !b) return !a && !b;
  return a->red == b->red && a->green == b->green && a->blue == b->blue && a->alpha == b->alpha;
}

CGFloat CGColorGetAlpha(const CGColorRef& color) { return color ? color->alpha : 0; }

CGColorComponents CGColorGetComponents(const CGColorRef& color) {
  if (!color) return {{0, 0, 0, 0}};
  return {{color->red, color->green, color->blue, color->alpha}};
}

QV_OBJC_DEFINE_CLASS(UIColor, objc::Object)

UIColor::UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
    : red_(clamp01(red)), green_(clamp01(green)), blue_(clamp01(blue)), alpha_(clamp01(alpha)) {}

std::shared_ptr<UIColor> UIColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
  return std::make_shared<UIColor>(red, green, blue, alpha);
}
std::shared_ptr<UIColor> UIColor::colorWithWhite(CGFloat white, CGFloat alpha) {
  return colorWithRed(white, white, white, alpha);
}
std::shared_ptr<UIColor> UIColor::colorWithCGColor(const CGColorRef& color) {
  if (!color) return nullptr;
  return colorWithRed(color->red, color->green, color->blue, color->alpha);
}

std::shared_ptr<UIColor> UIColor::blackColor() { return colorWithWhite(0, 1); }
std::shared_ptr<UIColor> UIColor::whiteColor() { return colorWithWhite(1, 1); }
std::shared_ptr<UIColor> UIColor::clearColor() { return colorWithWhite(0, 0); }
std::shared_ptr<UIColor> UIColor::redColor() { return colorWithRed(1, 0, 0, 1); }
std::shared_ptr<UIColor> UIColor::greenColor() { return colorWithRed(0, 1, 0, 1); }
std::shared_ptr<UIColor> UIColor::blueColor() { return colorWithRed(0, 0, 1, 1); }
std::shared_ptr<UIColor> UIColor::grayColor() { return colorWithWhite(0.5, 1); }
std::shared_ptr<UIColor> UIColor::lightGrayColor() { return colorWithWhite(2.0 / 3.0, 1); }
std::shared_ptr<UIColor> UIColor::darkGrayColor() { return colorWithWhite(1.0 / 3.0, 1); }
std::shared_ptr<UIColor> UIColor::systemBlueColor() { return colorWithRed(0.0, 122.0 / 255.0, 1.0, 1); }

bool UIColor::getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const {
  if (red) *red = red_;
  if (green) *green = green_;
  if (blue) *blue = blue_;
  if (alpha) *alpha = alpha_;
  return true;
}

CGColorRef UIColor::CGColor() const { return CGColorCreateSRGB(red_, green_, blue_, alpha_); }

std::shared_ptr<UIColor> UIColor::colorWithAlphaComponent(CGFloat alpha) const {
  return colorWithRed(red_, green_, blue_, alpha);
}

bool UIColor::isEqual(const UIColor& other) const { return *this == other; }

std::string UIColor::description() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "UIExtendedSRGBColorSpace %g %g %g %g", red_, green_, blue_, alpha_);
  return buf;
}

bool operator==(const UIColor& a, const UIColor& b) {
  return a.red() == b.red() && a.green() == b.green() && a.blue() == b.blue() && a.alpha() == b.alpha();
}

bool UIColorEqualToColor(const std::shared_ptr<UIColor>& a, const std::shared_ptr<UIColor>& b) {
  if (!a || !b) return !a && !b;
  return *a == *b;
}
