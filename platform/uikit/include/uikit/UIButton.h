// A button: titles and images per control state, a title label (a real UILabel
// subview, made when a title is first set or the label is first asked for) and an
// image view; a tap runs its touch-up-inside actions.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIControl.h"
#include "uikit/UIImage.h"

class UILabel;
class UIImageView;

enum UIButtonType : long {
  UIButtonTypeCustom = 0,
  UIButtonTypeSystem = 1,
};

class UIButton : public UIControl {
  QV_OBJC_DECLARE_CLASS(UIButton)
 public:
  explicit UIButton(CGRect frame = CGRectZero);
  static std::shared_ptr<UIButton> buttonWithType(UIButtonType type);
  UIButtonType buttonType() const;

  // The title for a state; for a state without its own, the normal title.
  std::optional<std::string> titleForState(UIControlState state) const;
  void setTitle(std::optional<std::string> title, UIControlState state);
  std::optional<std::string> currentTitle() const;  // title for the current state
  std::shared_ptr<UIColor> titleColorForState(UIControlState state) const;
  void setTitleColor(const std::shared_ptr<UIColor>& color, UIControlState state);
  std::shared_ptr<UIColor> currentTitleColor() const;

  std::shared_ptr<UIImage> imageForState(UIControlState state) const;
  void setImage(const std::shared_ptr<UIImage>& image, UIControlState state);
  std::shared_ptr<UIImage> currentImage() const;

  // The title label subview (made on first use).
  std::shared_ptr<UILabel> titleLabel();
  // The image view subview, present once an image was set.
  std::shared_ptr<UIImageView> imageView() const;

  void layoutSubviews() override;
  CGSize sizeThatFits(CGSize size) override;
  CGSize intrinsicContentSize() override;

 protected:
  void stateDidChange() override;

 private:
  void refreshContent();

  UIButtonType type_ = UIButtonTypeCustom;
  std::map<UIControlState, std::optional<std::string>> titles_;
  std::map<UIControlState, std::shared_ptr<UIColor>> titleColors_;
  std::map<UIControlState, std::shared_ptr<UIImage>> images_;
  std::shared_ptr<UILabel> titleLabel_;
  std::shared_ptr<UIImageView> imageView_;
  std::once_flag titleLabelOnce_;
};
