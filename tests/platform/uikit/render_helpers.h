// Helpers of the rendering tests: views drawn into images and pixel colours.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "uikit/UIGraphics.h"
#include "uikit/uikit.h"

namespace rendertest {

struct RGBA {
  int r, g, b, a;
};

inline RGBA rgba(std::uint32_t pixel) {
  return {static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
          static_cast<int>(pixel & 0xFF), static_cast<int>(pixel >> 24)};
}

inline RGBA pixel(const std::shared_ptr<UIImage>& image, int x, int y) { return rgba(image->pixelAt(x, y)); }

// The colour of the pixel under a point (points, image coordinates).
inline RGBA pointColor(const std::shared_ptr<UIImage>& image, double x, double y) {
  return pixel(image, static_cast<int>(x * image->scale()), static_cast<int>(y * image->scale()));
}

inline bool near(const RGBA& c, int r, int g, int b, int tolerance = 8) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance;
}

// The view drawn over its bounds into a new context of its size.
inline std::shared_ptr<UIImage> render(const std::shared_ptr<UIView>& view, CGFloat scale = 2.0, bool opaque = false) {
  UIGraphicsBeginImageContextWithOptions(view->bounds().size, opaque, scale);
  view->drawViewHierarchyInRect(CGRect{{0, 0}, view->bounds().size}, false);
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return image;
}

// Pixels of the image whose colour is darker than `threshold` on every channel and
// visible (alpha over half).
inline int darkPixels(const std::shared_ptr<UIImage>& image, int threshold = 100) {
  int count = 0;
  for (int y = 0; y < image->pixelHeight(); ++y) {
    for (int x = 0; x < image->pixelWidth(); ++x) {
      RGBA c = pixel(image, x, y);
      if (c.a > 128 && c.r < threshold && c.g < threshold && c.b < threshold) ++count;
    }
  }
  return count;
}

inline std::shared_ptr<UIView> coloredView(CGRect frame, const std::shared_ptr<UIColor>& color) {
  auto view = std::make_shared<UIView>(frame);
  view->setBackgroundColor(color);
  return view;
}

}  // namespace rendertest
