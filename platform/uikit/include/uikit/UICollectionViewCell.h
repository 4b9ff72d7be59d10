// A collection item: a view with a content view (made on first use).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UIView.h"

class UICollectionViewCell : public UIView {
  QV_OBJC_DECLARE_CLASS(UICollectionViewCell)
 public:
  explicit UICollectionViewCell(CGRect frame = CGRectZero);

  std::optional<std::string> reuseIdentifier() const;
  void _setReuseIdentifier(std::optional<std::string> identifier);
  std::shared_ptr<UIView> contentView();
  bool isSelected() const;
  void setSelected(bool selected);

  virtual void prepareForReuse();
  void layoutSubviews() override;

 private:
  std::optional<std::string> reuseIdentifier_;
  std::shared_ptr<UIView> contentView_;
  std::once_flag contentOnce_;
  bool selected_ = false;
};
