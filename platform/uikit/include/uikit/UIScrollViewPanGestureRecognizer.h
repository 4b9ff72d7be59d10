// The pan recogniser a scroll view installs on itself to scroll on drags.
#pragma once

#include "uikit/UIPanGestureRecognizer.h"

class UIScrollViewPanGestureRecognizer : public UIPanGestureRecognizer {
  QV_OBJC_DECLARE_CLASS(UIScrollViewPanGestureRecognizer)
 public:
  using UIPanGestureRecognizer::UIPanGestureRecognizer;
};
