// One segment of a segmented control (a private view class): a view holding the
// segment's title label. Segments take no touches themselves; the control does.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UISegment : public UIView {
  QV_OBJC_DECLARE_CLASS(UISegment)
 public:
  explicit UISegment(CGRect frame = CGRectZero);

  std::optional<std::string> title() const;
  void setTitle(std::optional<std::string> title);
  bool isSelected() const;
  void setSelected(bool selected);
  // The title label subview (made on first use).
  std::shared_ptr<UILabel> label();

  void layoutSubviews() override;

 private:
  std::optional<std::string> title_;
  bool selected_ = false;
  std::shared_ptr<UILabel> label_;
  std::once_flag labelOnce_;
};
