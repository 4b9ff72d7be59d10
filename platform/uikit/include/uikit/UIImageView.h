// A view that shows an image. Image views take no touches by default.
#pragma once

#include <memory>

#include "uikit/UIImage.h"
#include "uikit/UIView.h"

class UIImageView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIImageView)
 public:
  explicit UIImageView(CGRect frame = CGRectZero);
  // A view the image's size in points, at the origin.
  explicit UIImageView(const std::shared_ptr<UIImage>& image);

  std::shared_ptr<UIImage> image() const;
  void setImage(const std::shared_ptr<UIImage>& image);

  CGSize sizeThatFits(CGSize size) override;
  CGSize intrinsicContentSize() override;

 private:
  std::shared_ptr<UIImage> image_;
};
