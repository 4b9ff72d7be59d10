// The image context behind CGContextRef: a Cairo image surface in device pixels
// and a Cairo context whose user space is in points.
#pragma once

#include <cairo.h>

#include <functional>
#include <memory>
#include <mutex>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

class UIImage;

struct CGContext {
  CGContext(CGSize size, bool opaque, CGFloat scale);
  ~CGContext();
  CGContext(const CGContext&) = delete;
  CGContext& operator=(const CGContext&) = delete;

  cairo_t* cr = nullptr;
  cairo_surface_t* surface = nullptr;
  std::unique_ptr<unsigned char[]> pixels;  // the surface's memory (taken from this thread's spare one)
  std::size_t pixelBytes = 0;
  CGSize size;
  CGFloat scale;
  bool opaque;
};

namespace uikit_render {

// Every use of Cairo holds this lock. Cairo is safe for separate contexts, but
// its process-wide pools (saved states, patterns, fonts) are shared through atomic
// operations that the thread checker cannot see; drawing one image at a time keeps
// those runs meaningful, and images here are small. Recursive: view drawing calls
// back into image and context drawing.
std::recursive_mutex& cairoMutex();
using CairoLock = std::lock_guard<std::recursive_mutex>;

// Runs `use` with a Cairo surface over the image's pixels (read only), or does
// nothing for an empty image. Returns whether `use` ran.
bool withImageSurface(const UIImage& image, const std::function<void(cairo_surface_t*)>& use);
// A new image holding a copy of an ARGB32 surface's pixels.
std::shared_ptr<UIImage> imageFromSurface(cairo_surface_t* surface, CGFloat scale, bool forceOpaque);

inline void setSourceColor(cairo_t* cr, const CGColorRef& color) {
  auto c = CGColorGetComponents(color);
  cairo_set_source_rgba(cr, c.c[0], c.c[1], c.c[2], c.c[3]);
}

// Adds a rectangle with rounded corners (radius clamped to half the shorter side).
void addRoundedRect(cairo_t* cr, CGRect rect, CGFloat radius);

}  // namespace uikit_render
