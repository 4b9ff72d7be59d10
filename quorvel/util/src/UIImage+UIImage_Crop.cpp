#include "quorvel/util/UIImage+UIImage_Crop.h"

#include "uikit/UIGraphics.h"
#include "uikit/UIImage.h"

namespace UIImage_Crop {

std::shared_ptr<UIImage> crop(const std::shared_ptr<UIImage>& image, CGRect rect) {
  if (!image) return nullptr;
  UIGraphicsBeginImageContextWithOptions(rect.size, false, image->scale());
  // The rectangle's top-left corner lands on the context's origin.
  image->drawAtPoint(CGPointMake(-rect.origin.x, -rect.origin.y));
  std::shared_ptr<UIImage> cropped = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return cropped;
}

}  // namespace UIImage_Crop
