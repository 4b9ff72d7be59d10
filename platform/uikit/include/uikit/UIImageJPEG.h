// JPEG encoding and decoding of images (libjpeg-turbo). A JPEG has no
// transparency: transparent pixels encode as black (the premultiplied colour).
#pragma once

#include <memory>
#include <optional>

#include "foundation/data.h"
#include "uikit/CGGeometry.h"

class UIImage;

// JPEG data of `image` at `compressionQuality` (0 smallest ... 1 best; values
// outside are clamped, NaN counts as 0); absent for a missing or empty image.
std::optional<NSData> UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat compressionQuality);
// Decodes JPEG data into an opaque image of the given scale; nullptr when the data
// is not a JPEG image (or is absurdly large).
std::shared_ptr<UIImage> UIImageWithJPEGData(const NSData& data, CGFloat scale = 1.0);
