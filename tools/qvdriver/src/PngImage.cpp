#include "qvdriver/PngImage.h"

#include <cairo.h>
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

// Screens larger than this many pixels are refused rather than decoded.
constexpr long long kMaxPixels = 64ll * 1024 * 1024;
// Cairo's RGB24: one 32-bit word per pixel, 0xXXRRGGBB in native byte order.
constexpr int kCairoPixelFormat = std::endian::native == std::endian::little ? TJPF_BGRX : TJPF_XRGB;

cairo_status_t append(void* closure, const unsigned char* bytes, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), length);
  return CAIRO_STATUS_SUCCESS;
}

[[noreturn]] void fail(const std::string& why) { throw DriverError(ErrorCode::unknownError, "screenshot: " + why); }

}  // namespace

std::string pngFromJPEG(const std::string& jpeg) { return pngFromJPEG(jpeg, nullptr); }

std::string pngFromJPEG(const std::string& jpeg, const std::function<PixelRect(int width, int height)>& crop) {
  std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
  if (!decoder) fail("no JPEG decoder");
  const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(decoder.get(), data, jpeg.size(), &width, &height, &subsampling, &colorspace) != 0) {
    fail("the agent's image is not a JPEG image");
  }
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels) fail("image size out of range");
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  if (tjDecompress2(decoder.get(), data, jpeg.size(), pixels.data(), width, stride, height, kCairoPixelFormat, 0) != 0) {
    fail(std::string("cannot decode the JPEG image: ") + tjGetErrorStr2(decoder.get()));
  }
  unsigned char* origin = pixels.data();
  if (crop) {
    PixelRect r = crop(width, height);
    // Only the part inside the image; at least one pixel.
    r.x = std::clamp(r.x, 0, width - 1);
    r.y = std::clamp(r.y, 0, height - 1);
    r.width = std::clamp(r.width, 1, width - r.x);
    r.height = std::clamp(r.height, 1, height - r.y);
    origin += static_cast<std::size_t>(r.y) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(r.x) * 4;
    width = r.width;
    height = r.height;
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(origin, CAIRO_FORMAT_RGB24, width, height, stride);
  std::string png;
  cairo_status_t status = cairo_surface_write_to_png_stream(surface, append, &png);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) fail(std::string("cannot encode PNG: ") + cairo_status_to_string(status));
  return png;
}

}  // namespace qvdriver
