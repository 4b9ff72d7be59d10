#include <algorithm>
#include <cmath>

#include "uikit/UIPickerColumnView.h"
#include "uikit/UIPickerView.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UIPickerView, UIView)
QV_OBJC_DEFINE_CLASS(UIPickerColumnView, UIView)

// Picker -----------------------------------------------------------------------

UIPickerView::UIPickerView(CGRect frame) : UIView(frame) {}

std::shared_ptr<UIPickerViewDataSource> UIPickerView::dataSource() const {
  std::lock_guard lock(mutex_);
  return dataSource_.lock();
}
void UIPickerView::setDataSource(const std::shared_ptr<UIPickerViewDataSource>& dataSource) {
  {
    std::lock_guard lock(mutex_);
    dataSource_ = dataSource;
  }
  reloadAllComponents();
}
std::shared_ptr<UIPickerViewDelegate> UIPickerView::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void UIPickerView::setDelegate(const std::shared_ptr<UIPickerViewDelegate>& delegate) {
  {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
  }
  reloadAllComponents();
}

long UIPickerView::numberOfComponents() const {
  std::lock_guard lock(mutex_);
  return static_cast<long>(columns_.size());
}

long UIPickerView::numberOfRowsInComponent(long component) const {
  auto columns = _columns();
  if (component < 0 || component >= static_cast<long>(columns.size())) return 0;
  return static_cast<long>(columns[static_cast<std::size_t>(component)]->rowLabels().size());
}

long UIPickerView::selectedRowInComponent(long component) const {
  std::lock_guard lock(mutex_);
  if (component < 0 || component >= static_cast<long>(selected_.size())) return -1;
  return selected_[static_cast<std::size_t>(component)];
}

void UIPickerView::selectRow(long row, long component, bool) {
  auto columns = _columns();
  if (component < 0 || component >= static_cast<long>(columns.size())) return;
  long rows = numberOfRowsInComponent(component);
  if (row < 0 || row >= rows) return;
  {
    std::lock_guard lock(mutex_);
    if (static_cast<std::size_t>(component) < selected_.size()) selected_[static_cast<std::size_t>(component)] = row;
  }
  columns[static_cast<std::size_t>(component)]->_setSelectedRow(row);
}

std::optional<std::string> UIPickerView::_titleForRow(long row, long component) const {
  auto del = delegate();
  auto self = std::static_pointer_cast<UIPickerView>(selfView());
  if (!del || !self) return std::to_string(row);
  return del->titleForRow(self, row, component);
}

std::vector<std::shared_ptr<UIPickerColumnView>> UIPickerView::_columns() const {
  std::lock_guard lock(mutex_);
  return columns_;
}

void UIPickerView::reloadAllComponents() {
  auto self = std::static_pointer_cast<UIPickerView>(selfView());
  auto source = dataSource();
  long components = source && self ? std::max(0L, source->numberOfComponentsInPickerView(self)) : 0;
  std::vector<std::shared_ptr<UIPickerColumnView>> old;
  std::vector<long> oldSelected;
  {
    std::lock_guard lock(mutex_);
    old.swap(columns_);
    oldSelected = selected_;
  }
  for (const auto& c : old) c->removeFromSuperview();
  std::vector<std::shared_ptr<UIPickerColumnView>> columns;
  std::vector<long> selected;
  for (long c = 0; c < components; ++c) {
    long rows = std::max(0L, source->numberOfRowsInComponent(self, c));
    std::vector<std::optional<std::string>> titles;
    for (long r = 0; r < rows; ++r) titles.push_back(_titleForRow(r, c));
    long sel = static_cast<std::size_t>(c) < oldSelected.size() ? oldSelected[static_cast<std::size_t>(c)] : 0;
    sel = rows == 0 ? -1 : std::clamp(sel, 0L, rows - 1);
    auto column = std::make_shared<UIPickerColumnView>();
    addSubview(column);
    column->_configure(self, c, titles, sel);
    columns.push_back(column);
    selected.push_back(sel);
  }
  {
    std::lock_guard lock(mutex_);
    columns_ = columns;
    selected_ = selected;
  }
  setNeedsLayout();
  layoutSubviews();
}

void UIPickerView::layoutSubviews() {
  auto columns = _columns();
  if (columns.empty()) return;
  CGRect b = bounds();
  CGFloat width = b.size.width / static_cast<CGFloat>(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    columns[i]->setFrame({{width * static_cast<CGFloat>(i), 0}, {width, b.size.height}});
  }
}

CGSize UIPickerView::sizeThatFits(CGSize size) { return {size.width > 0 ? size.width : 320, 216}; }

void UIPickerView::_columnDidSelectRow(long component, long row) {
  if (row == selectedRowInComponent(component)) return;
  selectRow(row, component, true);
  if (auto del = delegate()) del->didSelectRow(std::static_pointer_cast<UIPickerView>(selfView()), row, component);
}

// Column ------------------------------------------------------------------------

UIPickerColumnView::UIPickerColumnView(CGRect frame) : UIView(frame) { setClipsToBounds(true); }

long UIPickerColumnView::component() const {
  std::lock_guard lock(mutex_);
  return component_;
}

long UIPickerColumnView::selectedRow() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

std::vector<std::shared_ptr<UILabel>> UIPickerColumnView::rowLabels() const {
  std::lock_guard lock(mutex_);
  return labels_;
}

void UIPickerColumnView::_configure(const std::shared_ptr<UIPickerView>& picker, long component,
                                    const std::vector<std::optional<std::string>>& titles, long selectedRow) {
  std::vector<std::shared_ptr<UILabel>> labels;
  for (const auto& title : titles) {
    auto label = std::make_shared<UILabel>();
    label->setText(title);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setFontSize(21);
    labels.push_back(label);
    addSubview(label);
  }
  {
    std::lock_guard lock(mutex_);
    picker_ = picker;
    component_ = component;
    selected_ = selectedRow;
    labels_ = std::move(labels);
  }
  layoutSubviews();
}

void UIPickerColumnView::_setSelectedRow(long row) {
  {
    std::lock_guard lock(mutex_);
    selected_ = row;
  }
  layoutSubviews();
}

long UIPickerColumnView::_rowAtPoint(CGPoint point) const {
  CGRect b = bounds();
  long selected;
  std::size_t rows;
  {
    std::lock_guard lock(mutex_);
    selected = selected_;
    rows = labels_.size();
  }
  CGFloat top = b.size.height / 2 - UIPickerView::kRowHeight / 2 - static_cast<CGFloat>(selected) * UIPickerView::kRowHeight;
  long row = static_cast<long>(std::floor((point.y - top) / UIPickerView::kRowHeight));
  return row >= 0 && row < static_cast<long>(rows) ? row : -1;
}

void UIPickerColumnView::layoutSubviews() {
  CGRect b = bounds();
  auto labels = rowLabels();
  long selected = selectedRow();
  CGFloat top = b.size.height / 2 - UIPickerView::kRowHeight / 2 - static_cast<CGFloat>(selected) * UIPickerView::kRowHeight;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    labels[i]->setFrame({{0, top + static_cast<CGFloat>(i) * UIPickerView::kRowHeight}, {b.size.width, UIPickerView::kRowHeight}});
  }
}

void UIPickerColumnView::touchesBegan(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIPickerColumnView::touchesMoved(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIPickerColumnView::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}

void UIPickerColumnView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  long row = _rowAtPoint(touches.front()->locationInView(selfView()));
  std::shared_ptr<UIPickerView> picker;
  {
    std::lock_guard lock(mutex_);
    picker = picker_.lock();
  }
  if (row >= 0 && picker) picker->_columnDidSelectRow(component(), row);
}
