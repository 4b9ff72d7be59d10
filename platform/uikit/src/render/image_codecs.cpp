// JPEG (libjpeg-turbo) and PNG (Cairo) encoding and decoding of images.
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/data.h"
#include "render/graphics_context.h"
#include "uikit/UIImage.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/UIImagePNG.h"

namespace {

// Decoded images larger than this many pixels are refused.
constexpr long long kMaxDecodedPixels = 64ll * 1024 * 1024;

// ARGB32 in native byte order, as turbojpeg names the byte layout.
constexpr int kNativePixelFormat = std::endian::native == std::endian::little ? TJPF_BGRA : TJPF_ARGB;

struct TurboHandle {
  explicit TurboHandle(bool compress) : handle(compress ? tjInitCompress() : tjInitDecompress()) {}
  ~TurboHandle() {
    if (handle) tjDestroy(handle);
  }
  tjhandle handle;
};

}  // namespace

std::optional<NSData> UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat compressionQuality) {
  if (!image || image->pixelWidth() <= 0 || image->pixelHeight() <= 0 || !image->pixels()) return std::nullopt;
  double q = std::isnan(compressionQuality) ? 0.0 : std::clamp(compressionQuality, 0.0, 1.0);
  int quality = std::clamp(static_cast<int>(std::lround(q * 100)), 1, 100);
  // One compressor per thread, kept: making one costs more than a small image.
  thread_local TurboHandle tj(true);
  if (!tj.handle) return std::nullopt;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  // The premultiplied colour without its alpha: transparent pixels come out black.
  int rc = tjCompress2(tj.handle, image->pixels()->data(), image->pixelWidth(), image->stride(), image->pixelHeight(),
                       kNativePixelFormat, &out, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
  if (rc != 0 || !out) {
    tjFree(out);
    return std::nullopt;
  }
  NSData data(out, out + size);
  tjFree(out);
  return data;
}

std::shared_ptr<UIImage> UIImageWithJPEGData(const NSData& data, CGFloat scale) {
  if (data.empty()) return nullptr;
  TurboHandle tj(false);
  if (!tj.handle) return nullptr;
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(tj.handle, data.data(), data.size(), &w, &h, &subsampling, &colorspace) != 0) return nullptr;
  if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > kMaxDecodedPixels) return nullptr;
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(w) * 4 * static_cast<std::size_t>(h));
  if (tjDecompress2(tj.handle, data.data(), data.size(), pixels->data(), w, w * 4, h, kNativePixelFormat,
                    TJFLAG_ACCURATEDCT) != 0) {
    return nullptr;
  }
  auto* px = reinterpret_cast<std::uint32_t*>(pixels->data());
  for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) px[i] |= 0xFF000000u;
  return std::make_shared<UIImage>(std::move(pixels), w, h, w * 4, scale);
}

// PNG ------------------------------------------------------------------------------

namespace {

cairo_status_t appendToData(void* closure, const unsigned char* bytes, unsigned int length) {
  auto* data = static_cast<NSData*>(closure);
  data->insert(data->end(), bytes, bytes + length);
  return CAIRO_STATUS_SUCCESS;
}

struct ReadCursor {
  const NSData* data;
  std::size_t offset;
};

cairo_status_t readFromData(void* closure, unsigned char* bytes, unsigned int length) {
  auto* cursor = static_cast<ReadCursor*>(closure);
  if (cursor->data->size() - cursor->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(bytes, cursor->data->data() + cursor->offset, length);
  cursor->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<NSData> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image) {
  if (!image) return std::nullopt;
  NSData data;
  bool ok = false;
  uikit_render::withImageSurface(*image, [&](cairo_surface_t* surface) {
    ok = cairo_surface_write_to_png_stream(surface, appendToData, &data) == CAIRO_STATUS_SUCCESS;
  });
  if (!ok) return std::nullopt;
  return data;
}

std::shared_ptr<UIImage> UIImageWithPNGData(const NSData& data, CGFloat scale) {
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  ReadCursor cursor{&data, 0};
  cairo_surface_t* png = cairo_image_surface_create_from_png_stream(readFromData, &cursor);
  std::shared_ptr<UIImage> image;
  if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS) {
    int w = cairo_image_surface_get_width(png), h = cairo_image_surface_get_height(png);
    if (static_cast<long long>(w) * h <= kMaxDecodedPixels) {
      // Whatever format the PNG decoded to, draw it into ARGB32.
      cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
      cairo_t* cr = cairo_create(argb);
      cairo_set_source_surface(cr, png, 0, 0);
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
      cairo_paint(cr);
      cairo_destroy(cr);
      image = uikit_render::imageFromSurface(argb, scale, false);
      cairo_surface_destroy(argb);
    }
  }
  cairo_surface_destroy(png);
  return image;
}

bool UIImageWritePNGToFile(const std::shared_ptr<UIImage>& image, const std::string& path) {
  if (path.empty()) return false;
  auto data = UIImagePNGRepresentation(image);
  if (!data) return false;
  return foundation::writeFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}
