// One column of a picker view (a private view class): a clipping view holding one
// label per row, positioned so that the selected row sits in the middle.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UIPickerView;

class UIPickerColumnView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIPickerColumnView)
 public:
  explicit UIPickerColumnView(CGRect frame = CGRectZero);

  long component() const;
  long selectedRow() const;
  std::vector<std::shared_ptr<UILabel>> rowLabels() const;

  // Platform internals (UIPickerView).
  void _configure(const std::shared_ptr<UIPickerView>& picker, long component,
                  const std::vector<std::optional<std::string>>& titles, long selectedRow);
  void _setSelectedRow(long row);
  long _rowAtPoint(CGPoint point) const;  // -1 outside the rows

  void layoutSubviews() override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

 private:
  std::weak_ptr<UIPickerView> picker_;
  long component_ = 0;
  long selected_ = -1;
  std::vector<std::shared_ptr<UILabel>> labels_;
};
