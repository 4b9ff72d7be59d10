#include "class_support.h"
#include "uikit/UIButton.h"

#include <algorithm>

#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"

QV_OBJC_DEFINE_CLASS(UIButton, UIControl)

UIButton::UIButton(CGRect frame) : UIControl(frame) { setOpaque(false); }

std::shared_ptr<UIButton> UIButton::buttonWithType(UIButtonType type) {
  auto button = std::make_shared<UIButton>();
  button->type_ = type;
  if (type == UIButtonTypeSystem) button->setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
  return button;
}

UIButtonType UIButton::buttonType() const {
  std::lock_guard lock(mutex_);
  return type_;
}

namespace {

// The value for `state`, else for the normal state, else absent.
template <class Map>
typename Map::mapped_type lookup(const Map& map, UIControlState state) {
  auto it = map.find(state);
  if (it != map.end()) return it->second;
  // A combined state falls back to its parts before the normal state.
  for (UIControlState part : {UIControlStateDisabled, UIControlStateSelected, UIControlStateHighlighted}) {
    if ((state & part) && (it = map.find(part)) != map.end()) return it->second;
  }
  it = map.find(UIControlStateNormal);
  return it != map.end() ? it->second : typename Map::mapped_type{};
}

}  // namespace

std::optional<std::string> UIButton::titleForState(UIControlState state) const {
  std::lock_guard lock(mutex_);
  return lookup(titles_, state);
}

void UIButton::setTitle(std::optional<std::string> title, UIControlState state) {
  {
    std::lock_guard lock(mutex_);
    titles_[state] = std::move(title);
  }
  refreshContent();
}

std::optional<std::string> UIButton::currentTitle() const { return titleForState(state()); }

std::shared_ptr<UIColor> UIButton::titleColorForState(UIControlState state) const {
  std::lock_guard lock(mutex_);
  return lookup(titleColors_, state);
}

void UIButton::setTitleColor(const std::shared_ptr<UIColor>& color, UIControlState state) {
  {
    std::lock_guard lock(mutex_);
    titleColors_[state] = color;
  }
  refreshContent();
}

std::shared_ptr<UIColor> UIButton::currentTitleColor() const {
  auto color = titleColorForState(state());
  return color ? color : UIColor::whiteColor();
}

std::shared_ptr<UIImage> UIButton::imageForState(UIControlState state) const {
  std::lock_guard lock(mutex_);
  return lookup(images_, state);
}

void UIButton::setImage(const std::shared_ptr<UIImage>& image, UIControlState state) {
  {
    std::lock_guard lock(mutex_);
    images_[state] = image;
  }
  refreshContent();
}

std::shared_ptr<UIImage> UIButton::currentImage() const { return imageForState(state()); }

std::shared_ptr<UILabel> UIButton::titleLabel() {
  return uikit_internal::lazySubview(titleLabelOnce_, mutex_, titleLabel_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextAlignment(NSTextAlignmentCenter);
    return label;
  });
}

std::shared_ptr<UIImageView> UIButton::imageView() const {
  std::lock_guard lock(mutex_);
  return imageView_;
}

void UIButton::stateDidChange() { refreshContent(); }

void UIButton::refreshContent() {
  auto title = currentTitle();
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    label = titleLabel_;
  }
  if (title && !label) label = titleLabel();
  if (label) {
    label->setText(title);
    label->setTextColor(currentTitleColor());
  }
  auto image = currentImage();
  std::shared_ptr<UIImageView> imageView;
  bool made = false;
  {
    std::lock_guard lock(mutex_);
    if (image && !imageView_) {
      imageView_ = std::make_shared<UIImageView>();
      made = true;
    }
    imageView = imageView_;
  }
  if (made) insertSubviewAtIndex(imageView, 0);
  if (imageView) imageView->setImage(image);
  setNeedsLayout();
}

void UIButton::layoutSubviews() {
  CGRect b = bounds();
  auto image = imageView();
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    label = titleLabel_;
  }
  CGSize imageSize = image && image->image() ? image->image()->size() : CGSizeZero;
  CGSize labelSize = label ? label->sizeThatFits({0, 0}) : CGSizeZero;
  labelSize.width = std::min(labelSize.width, std::max(0.0, b.size.width - imageSize.width));
  CGFloat total = imageSize.width + labelSize.width;
  CGFloat x = b.origin.x + (b.size.width - total) / 2;
  if (image) image->setFrame({{x, b.origin.y + (b.size.height - imageSize.height) / 2}, imageSize});
  if (label) {
    label->setFrame({{x + imageSize.width, b.origin.y + (b.size.height - labelSize.height) / 2}, labelSize});
  }
}

CGSize UIButton::sizeThatFits(CGSize) {
  auto image = currentImage();
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    label = titleLabel_;
  }
  CGSize imageSize = image ? image->size() : CGSizeZero;
  CGSize labelSize = label ? label->sizeThatFits({0, 0}) : CGSizeZero;
  return {imageSize.width + labelSize.width + 16, std::max({imageSize.height, labelSize.height, 30.0})};
}

CGSize UIButton::intrinsicContentSize() { return sizeThatFits({0, 0}); }
