// An image: pixel dimensions, scale and pixels (32-bit ARGB, premultiplied alpha,
// native byte order, rows `stride` bytes apart) in a shared buffer. The size in
// points is the pixel size divided by the scale.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class UIImage : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIImage)
 public:
  using PixelBuffer = std::shared_ptr<std::vector<std::uint8_t>>;

  UIImage() = default;  // an empty image (0 x 0)
  // A transparent image of the given pixel size.
  UIImage(int pixelWidth, int pixelHeight, CGFloat scale);
  // An image over existing pixels; `pixels` must hold stride * pixelHeight bytes.
  UIImage(PixelBuffer pixels, int pixelWidth, int pixelHeight, int stride, CGFloat scale);

  CGSize size() const;  // points
  CGFloat scale() const { return scale_; }
  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  int stride() const { return stride_; }
  const PixelBuffer& pixels() const { return pixels_; }
  // The pixel at (x, y) as 0xAARRGGBB; 0 outside the image.
  std::uint32_t pixelAt(int x, int y) const;

  // Draw into the current image context (UIGraphics.h), blending over what is
  // there: at `point` in the image's size in points, or scaled to fill `rect`.
  void drawAtPoint(CGPoint point) const;
  void drawInRect(CGRect rect) const;

 private:
  PixelBuffer pixels_;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  CGFloat scale_ = 1.0;
};
