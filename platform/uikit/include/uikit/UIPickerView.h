// A minimal picker: one column view (class "UIPickerColumnView") per component,
// each showing its rows' titles with the selected row in the middle. A tap on a
// row of a column selects it and tells the delegate.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIView.h"

class UIPickerView;
class UIPickerColumnView;

class UIPickerViewDataSource {
 public:
  virtual ~UIPickerViewDataSource() = default;
  virtual long numberOfComponentsInPickerView(const std::shared_ptr<UIPickerView>& picker) = 0;
  virtual long numberOfRowsInComponent(const std::shared_ptr<UIPickerView>& picker, long component) = 0;
};

class UIPickerViewDelegate {
 public:
  virtual ~UIPickerViewDelegate() = default;
  virtual std::optional<std::string> titleForRow(const std::shared_ptr<UIPickerView>&, long row, long component) {
    (void)component;
    return std::to_string(row);
  }
  virtual void didSelectRow(const std::shared_ptr<UIPickerView>&, long row, long component) {
    (void)row;
    (void)component;
  }
};

class UIPickerView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIPickerView)
 public:
  explicit UIPickerView(CGRect frame = CGRectZero);

  std::shared_ptr<UIPickerViewDataSource> dataSource() const;
  void setDataSource(const std::shared_ptr<UIPickerViewDataSource>& dataSource);  // weak
  std::shared_ptr<UIPickerViewDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UIPickerViewDelegate>& delegate);  // weak

  long numberOfComponents() const;
  long numberOfRowsInComponent(long component) const;
  long selectedRowInComponent(long component) const;  // -1 when out of range or empty
  void selectRow(long row, long component, bool animated);
  std::optional<std::string> _titleForRow(long row, long component) const;
  // Reads counts and titles again and rebuilds the columns.
  void reloadAllComponents();
  std::vector<std::shared_ptr<UIPickerColumnView>> _columns() const;

  void layoutSubviews() override;
  CGSize sizeThatFits(CGSize size) override;

  // A row tapped in a column (UIPickerColumnView).
  void _columnDidSelectRow(long component, long row);

  static constexpr CGFloat kRowHeight = 32.0;

 private:
  std::weak_ptr<UIPickerViewDataSource> dataSource_;
  std::weak_ptr<UIPickerViewDelegate> delegate_;
  std::vector<std::shared_ptr<UIPickerColumnView>> columns_;
  std::vector<long> selected_;
};
