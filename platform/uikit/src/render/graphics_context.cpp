#include "render/graphics_context.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "uikit/UIGraphics.h"
#include "uikit/UIImage.h"
#include "uikit/UIScreen.h"

namespace {

// Larger sides than this are refused (an empty context): Cairo's own limit is 32767.
constexpr double kMaxPixels = 16384;

int pixelCount(CGFloat points, CGFloat scale) {
  double px = std::ceil(points * scale - 1e-9);
  if (!std::isfinite(px) || px <= 0 || px > kMaxPixels) return 0;
  return static_cast<int>(px);
}

std::vector<std::unique_ptr<CGContext>>& contextStack() {
  thread_local std::vector<std::unique_ptr<CGContext>> stack;
  return stack;
}

// The memory of the last context a thread closed, kept for its next one: rendering
// many views one after the other (each into a context of its own) then reuses
// memory the process already touched instead of asking the system for fresh pages
// every time. Only the largest recent block is kept, and only up to a bound.
struct SparePixels {
  std::unique_ptr<unsigned char[]> block;
  std::size_t bytes = 0;
};
constexpr std::size_t kMaxSpareBytes = 64u << 20;

SparePixels& sparePixels() {
  thread_local SparePixels spare;
  return spare;
}

}  // namespace

CGContext::CGContext(CGSize sz, bool isOpaque, CGFloat s) : size(sz), scale(s), opaque(isOpaque) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  int w = pixelCount(size.width, scale);
  int h = pixelCount(size.height, scale);
  if (w == 0 || h == 0) w = h = 0;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(h);
  if (bytes > 0 && stride > 0) {
    SparePixels& spare = sparePixels();
    if (spare.block && spare.bytes >= bytes) {
      pixels = std::move(spare.block);
      pixelBytes = spare.bytes;
      spare.bytes = 0;
    } else {
      pixels.reset(new unsigned char[bytes]);
      pixelBytes = bytes;
    }
    std::memset(pixels.get(), 0, bytes);  // a new context is transparent
    surface = cairo_image_surface_create_for_data(pixels.get(), CAIRO_FORMAT_ARGB32, w, h, stride);
  } else {
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  }
  cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
}

CGContext::~CGContext() {
  {
    uikit_render::CairoLock lock(uikit_render::cairoMutex());
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
  }
  if (!pixels || pixelBytes > kMaxSpareBytes) return;
  SparePixels& spare = sparePixels();
  if (spare.bytes <= pixelBytes) {
    spare.block = std::move(pixels);
    spare.bytes = pixelBytes;
  }
}

namespace uikit_render {

std::recursive_mutex& cairoMutex() {
  static auto* mutex = new std::recursive_mutex;  // background renders may outlive static destruction
  return *mutex;
}

bool withImageSurface(const UIImage& image, const std::function<void(cairo_surface_t*)>& use) {
  CairoLock lock(cairoMutex());
  int w = image.pixelWidth(), h = image.pixelHeight();
  if (w <= 0 || h <= 0 || !image.pixels()) return false;
  auto* data = const_cast<unsigned char*>(image.pixels()->data());
  int stride = image.stride();
  std::vector<unsigned char> aligned;
  if (stride != cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w)) {
    // Cairo wants its own row alignment: copy the rows.
    int cairoStride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    aligned.resize(static_cast<std::size_t>(cairoStride) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
      std::memcpy(aligned.data() + static_cast<std::size_t>(y) * cairoStride, data + static_cast<std::size_t>(y) * stride,
                  static_cast<std::size_t>(w) * 4);
    }
    data = aligned.data();
    stride = cairoStride;
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, w, h, stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  use(surface);
  cairo_surface_finish(surface);
  cairo_surface_destroy(surface);
  return true;
}

std::shared_ptr<UIImage> imageFromSurface(cairo_surface_t* surface, CGFloat scale, bool forceOpaque) {
  CairoLock lock(cairoMutex());
  cairo_surface_flush(surface);
  int w = cairo_image_surface_get_width(surface);
  int h = cairo_image_surface_get_height(surface);
  if (w <= 0 || h <= 0) return nullptr;
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  std::shared_ptr<std::vector<std::uint8_t>> pixels;
  if (stride == w * 4) {
    pixels = std::make_shared<std::vector<std::uint8_t>>(data, data + static_cast<std::size_t>(stride) * h);  // one copy, no clearing first
  } else {
    pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(w) * 4 * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
      std::memcpy(pixels->data() + static_cast<std::size_t>(y) * w * 4, data + static_cast<std::size_t>(y) * stride,
                  static_cast<std::size_t>(w) * 4);
    }
  }
  if (forceOpaque) {
    // Premultiplied pixels with full alpha are those pixels shown over black.
    auto* px = reinterpret_cast<std::uint32_t*>(pixels->data());
    for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) px[i] |= 0xFF000000u;
  }
  return std::make_shared<UIImage>(std::move(pixels), w, h, w * 4, scale);
}

void addRoundedRect(cairo_t* cr, CGRect r, CGFloat radius) {
  radius = std::clamp(radius, 0.0, std::min(r.size.width, r.size.height) / 2);
  if (radius <= 0) {
    cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    return;
  }
  double x0 = r.origin.x, y0 = r.origin.y, x1 = x0 + r.size.width, y1 = y0 + r.size.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

}  // namespace uikit_render

// Context stack ------------------------------------------------------------------

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale) {
  if (!(scale > 0)) scale = UIScreen::mainScreen()->scale();
  contextStack().push_back(std::make_unique<CGContext>(size, opaque, scale));
}

void UIGraphicsBeginImageContext(CGSize size) { UIGraphicsBeginImageContextWithOptions(size, false, 1.0); }

CGContextRef UIGraphicsGetCurrentContext() {
  auto& stack = contextStack();
  return stack.empty() ? nullptr : stack.back().get();
}

std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
  CGContextRef context = UIGraphicsGetCurrentContext();
  if (!context) return nullptr;
  return uikit_render::imageFromSurface(context->surface, context->scale, context->opaque);
}

void UIGraphicsEndImageContext() {
  auto& stack = contextStack();
  if (!stack.empty()) stack.pop_back();
}

// Context operations --------------------------------------------------------------

void CGContextSaveGState(CGContextRef c) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (c) cairo_save(c->cr);
}
void CGContextRestoreGState(CGContextRef c) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (c) cairo_restore(c->cr);
}
void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (c) cairo_translate(c->cr, tx, ty);
}
void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  // A zero scale would make the matrix singular and put Cairo in an error state.
  if (c && sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy)) cairo_scale(c->cr, sx, sy);
}
void CGContextClipToRect(CGContextRef c, CGRect r) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (!c) return;
  r = CGRectStandardize(r);
  cairo_rectangle(c->cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
  cairo_clip(c->cr);
}
void CGContextSetFillColorWithColor(CGContextRef c, const CGColorRef& color) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (c) uikit_render::setSourceColor(c->cr, color);
}
void CGContextSetStrokeColorWithColor(CGContextRef c, const CGColorRef& color) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  // Cairo has one source for both; the last colour set is used.
  if (c) uikit_render::setSourceColor(c->cr, color);
}
void CGContextSetLineWidth(CGContextRef c, CGFloat width) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (c && width >= 0) cairo_set_line_width(c->cr, width);
}
void CGContextFillRect(CGContextRef c, CGRect r) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (!c) return;
  r = CGRectStandardize(r);
  cairo_rectangle(c->cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
  cairo_fill(c->cr);
}
void CGContextStrokeRect(CGContextRef c, CGRect r) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (!c) return;
  r = CGRectStandardize(r);
  cairo_rectangle(c->cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
  cairo_stroke(c->cr);
}
CGSize CGContextGetSize(CGContextRef c) { return c ? c->size : CGSizeZero; }
CGFloat CGContextGetScale(CGContextRef c) { return c ? c->scale : 0; }

// Image drawing --------------------------------------------------------------------

void UIImage::drawAtPoint(CGPoint point) const { drawInRect({point, size()}); }

void UIImage::drawInRect(CGRect rect) const {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  CGContextRef context = UIGraphicsGetCurrentContext();
  rect = CGRectStandardize(rect);
  if (!context || CGRectIsEmpty(rect) || pixelWidth() <= 0 || pixelHeight() <= 0) return;
  uikit_render::withImageSurface(*this, [&](cairo_surface_t* surface) {
    cairo_t* cr = context->cr;
    cairo_save(cr);
    cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_translate(cr, rect.origin.x, rect.origin.y);
    cairo_scale(cr, rect.size.width / pixelWidth(), rect.size.height / pixelHeight());
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
  });
}
