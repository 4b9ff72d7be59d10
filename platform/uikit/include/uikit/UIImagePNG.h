// PNG encoding and decoding of images (Cairo's PNG reader and writer).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/data.h"
#include "uikit/CGGeometry.h"

class UIImage;

// PNG data of `image`; absent for a missing or empty image.
std::optional<NSData> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image);
// Decodes PNG data; nullptr when the data is not a PNG image.
std::shared_ptr<UIImage> UIImageWithPNGData(const NSData& data, CGFloat scale = 1.0);
// Writes the PNG of `image` to `path` (through a temporary file renamed into
// place, so a reader never sees half a file); false on any failure.
bool UIImageWritePNGToFile(const std::shared_ptr<UIImage>& image, const std::string& path);
