// Images of views: rendered into an image context, cropped around a touch, and
// written as Base64 JPEG. Rendering uses only thread-safe reads, so these run on
// the main thread and on background threads alike.
#include "foundation/data.h"
#include "quorvel/util/UIImage+UIImage_Crop.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIGraphics.h"
#include "uikit/UIImage.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/UIView.h"

namespace {

constexpr double kTouchedAreaOffset = 100;
constexpr double kTouchedAreaWidth = 300;
constexpr double kTouchedAreaHeight = 200;
constexpr CGFloat kJPEGQuality = 0.6;

Utilities::Text base64JPEG(const std::shared_ptr<UIImage>& image) {
  auto jpeg = UIImageJPEGRepresentation(image, kJPEGQuality);
  if (!jpeg) return std::nullopt;
  return foundation::base64Encode(*jpeg);
}

}  // namespace

std::shared_ptr<UIImage> Utilities::getUIImageOfUIView(const objc::id& object) {
  auto view = std::dynamic_pointer_cast<UIView>(object);
  if (!view) return nullptr;
  CGRect bounds = view->bounds();
  // Opaque exactly when the view is; scale 0 is the screen's own.
  UIGraphicsBeginImageContextWithOptions(bounds.size, view->isOpaque(), 0.0);
  view->drawViewHierarchyInRect(CGRectMake(0, 0, bounds.size.width, bounds.size.height), false);
  std::shared_ptr<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return image;
}

CGRect Utilities::touchedAreaRect(double x, double y) {
  return CGRectMake(x - kTouchedAreaOffset, y - kTouchedAreaOffset, kTouchedAreaWidth, kTouchedAreaHeight);
}

std::shared_ptr<UIImage> Utilities::getUIImageOfUIViewTouchedArea(const objc::id& view, double x, double y) {
  return UIImage_Crop::crop(getUIImageOfUIView(view), touchedAreaRect(x, y));
}

Utilities::Text Utilities::getBase64StringOfUIImage(const std::shared_ptr<UIImage>& image) {
  if (!image) return std::nullopt;
  return base64JPEG(image);
}

Utilities::Text Utilities::getBase64StringOfUIImageOfUIView(const objc::id& view) {
  return base64JPEG(getUIImageOfUIView(view));
}

Utilities::Text Utilities::getBase64StringOfUIImageOfUIViewTouchedArea(const objc::id& view, double x, double y) {
  return base64JPEG(getUIImageOfUIViewTouchedArea(view, x, y));
}
