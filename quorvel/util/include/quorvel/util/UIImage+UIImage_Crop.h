// The image extension UIImage(UIImage_Crop).
#pragma once

#include <memory>

#include "uikit/CGGeometry.h"

class UIImage;

namespace UIImage_Crop {

// A new image of the rectangle `rect` (points) of `image`, at the image's scale.
// Parts of the rectangle outside the image are transparent. nullptr without an
// image or for a rectangle of no pixels.
std::shared_ptr<UIImage> crop(const std::shared_ptr<UIImage>& image, CGRect rect);

}  // namespace UIImage_Crop
