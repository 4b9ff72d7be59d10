#include <cstdio>
#include <cstdlib>

#include "uikit/UIScreen.h"

QV_OBJC_DEFINE_CLASS(UIScreen, objc::Object)

UIScreen::UIScreen() : bounds_(CGRectMake(0, 0, 390, 844)), scale_(2.0) {
  if (const char* text = std::getenv("QUORVEL_SCREEN")) {
    double w = 0, h = 0, s = 0;
    int n = std::sscanf(text, "%lfx%lf@%lf", &w, &h, &s);
    if (n >= 2 && w > 0 && h > 0) bounds_ = CGRectMake(0, 0, w, h);
    if (n == 3 && s > 0) scale_ = s;
  }
}

std::shared_ptr<UIScreen> UIScreen::mainScreen() {
  static auto* screen = new std::shared_ptr<UIScreen>(std::make_shared<UIScreen>());  // never destroyed
  return *screen;
}

CGRect UIScreen::bounds() const {
  std::lock_guard lock(mutex_);
  return bounds_;
}

CGFloat UIScreen::scale() const {
  std::lock_guard lock(mutex_);
  return scale_;
}

void UIScreen::_setBounds(CGRect bounds) {
  std::lock_guard lock(mutex_);
  bounds_ = bounds;
}

void UIScreen::_setScale(CGFloat scale) {
  std::lock_guard lock(mutex_);
  if (scale > 0) scale_ = scale;
}
