// JPEG to PNG, for screenshots: the agent sends JPEG, WebDriver clients expect PNG.
#pragma once

#include <functional>
#include <string>

namespace qvdriver {

// The PNG bytes of the JPEG image `jpeg`; throws DriverError (unknown error) when
// `jpeg` is not a JPEG image it can decode.
std::string pngFromJPEG(const std::string& jpeg);

// A rectangle of pixels.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The PNG of the part of the image that `crop` names once it knows the image's
// size (kept inside the image, at least one pixel).
std::string pngFromJPEG(const std::string& jpeg, const std::function<PixelRect(int width, int height)>& crop);

}  // namespace qvdriver
