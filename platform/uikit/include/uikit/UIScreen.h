// The device screen: 390 x 844 points at scale 2.0 unless configured otherwise
// (QUORVEL_SCREEN="390x844@2" or the platform setters).
#pragma once

#include <memory>
#include <mutex>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class UIScreen : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIScreen)
 public:
  UIScreen();
  static std::shared_ptr<UIScreen> mainScreen();

  CGRect bounds() const;
  CGFloat scale() const;
  CGFloat nativeScale() const { return scale(); }

  // Platform configuration (device input, tests).
  void _setBounds(CGRect bounds);
  void _setScale(CGFloat scale);

 private:
  mutable std::mutex mutex_;
  CGRect bounds_;
  CGFloat scale_;
};
