#include <algorithm>

#include "uikit/UIImage.h"
#include "uikit/UIImageView.h"

QV_OBJC_DEFINE_CLASS(UIImage, objc::Object)
QV_OBJC_DEFINE_CLASS(UIImageView, UIView)

UIImage::UIImage(int pixelWidth, int pixelHeight, CGFloat scale)
    : width_(std::max(0, pixelWidth)), height_(std::max(0, pixelHeight)), stride_(width_ * 4),
      scale_(scale > 0 ? scale : 1.0) {
  pixels_ = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_), 0);
}

UIImage::UIImage(PixelBuffer pixels, int pixelWidth, int pixelHeight, int stride, CGFloat scale)
    : pixels_(std::move(pixels)), width_(std::max(0, pixelWidth)), height_(std::max(0, pixelHeight)),
      stride_(std::max(stride, width_ * 4)), scale_(scale > 0 ? scale : 1.0) {
  std::size_t needed = static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_);
  if (!pixels_) pixels_ = std::make_shared<std::vector<std::uint8_t>>();
  if (pixels_->size() < needed) pixels_->resize(needed, 0);
}

CGSize UIImage::size() const { return {width_ / scale_, height_ / scale_}; }

std::uint32_t UIImage::pixelAt(int x, int y) const {
  if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  std::uint32_t value;
  const auto* p = pixels_->data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_) +
                  static_cast<std::size_t>(x) * 4;
  std::copy(p, p + 4, reinterpret_cast<std::uint8_t*>(&value));
  return value;
}

UIImageView::UIImageView(CGRect frame) : UIView(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

UIImageView::UIImageView(const std::shared_ptr<UIImage>& image)
    : UIImageView(CGRect{{0, 0}, image ? image->size() : CGSizeZero}) {
  image_ = image;
}

std::shared_ptr<UIImage> UIImageView::image() const {
  std::lock_guard lock(mutex_);
  return image_;
}

void UIImageView::setImage(const std::shared_ptr<UIImage>& image) {
  std::lock_guard lock(mutex_);
  image_ = image;
}

CGSize UIImageView::sizeThatFits(CGSize) {
  auto img = image();
  return img ? img->size() : CGSizeZero;
}

CGSize UIImageView::intrinsicContentSize() {
  auto img = image();
  return img ? img->size() : CGSize{-1, -1};
}
