#include <algorithm>
#include <cmath>

#include "class_support.h"
#include "uikit/UISegment.h"
#include "uikit/UISegmentedControl.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UISegment, UIView)
QV_OBJC_DEFINE_CLASS(UISegmentedControl, UIControl)

// Segment ----------------------------------------------------------------------

UISegment::UISegment(CGRect frame) : UIView(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

std::optional<std::string> UISegment::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}

void UISegment::setTitle(std::optional<std::string> title) {
  {
    std::lock_guard lock(mutex_);
    title_ = title;
  }
  label()->setText(std::move(title));
}

bool UISegment::isSelected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void UISegment::setSelected(bool selected) {
  {
    std::lock_guard lock(mutex_);
    selected_ = selected;
  }
  setBackgroundColor(selected ? UIColor::whiteColor() : nullptr);
}

std::shared_ptr<UILabel> UISegment::label() {
  return uikit_internal::lazySubview(labelOnce_, mutex_, label_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setFontSize(13);
    return label;
  });
}

void UISegment::layoutSubviews() { label()->setFrame(bounds()); }

// Segmented control -------------------------------------------------------------

UISegmentedControl::UISegmentedControl(CGRect frame) : UIControl(frame) {
  setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
  layer()->setCornerRadius(8);
}

std::shared_ptr<UISegmentedControl> UISegmentedControl::initWithItems(const std::vector<std::string>& items) {
  removeAllSegments();
  for (std::size_t i = 0; i < items.size(); ++i) insertSegmentWithTitle(items[i], i, false);
  if (frame().size == CGSizeZero) sizeToFit();
  return std::static_pointer_cast<UISegmentedControl>(selfView());
}

unsigned long UISegmentedControl::numberOfSegments() const {
  std::lock_guard lock(mutex_);
  return segments_.size();
}

std::vector<std::shared_ptr<UISegment>> UISegmentedControl::segments() const {
  std::lock_guard lock(mutex_);
  return segments_;
}

std::optional<std::string> UISegmentedControl::titleForSegmentAtIndex(unsigned long index) const {
  auto all = segments();
  if (index >= all.size()) return std::nullopt;
  return all[index]->title();
}

void UISegmentedControl::setTitle(std::optional<std::string> title, unsigned long index) {
  auto all = segments();
  if (index < all.size()) all[index]->setTitle(std::move(title));
}

void UISegmentedControl::insertSegmentWithTitle(std::optional<std::string> title, unsigned long index, bool) {
  auto segment = std::make_shared<UISegment>();
  segment->setTitle(std::move(title));
  {
    std::lock_guard lock(mutex_);
    index = std::min<unsigned long>(index, segments_.size());
    segments_.insert(segments_.begin() + static_cast<long>(index), segment);
    if (selected_ >= static_cast<long>(index)) ++selected_;
  }
  insertSubviewAtIndex(segment, static_cast<long>(index));
  updateSelectionViews();
  layoutSegments();
}

void UISegmentedControl::removeSegmentAtIndex(unsigned long index, bool) {
  std::shared_ptr<UISegment> removed;
  {
    std::lock_guard lock(mutex_);
    if (index >= segments_.size()) return;
    removed = segments_[index];
    segments_.erase(segments_.begin() + static_cast<long>(index));
    if (selected_ == static_cast<long>(index)) {
      selected_ = UISegmentedControlNoSegment;
    } else if (selected_ > static_cast<long>(index)) {
      --selected_;
    }
  }
  removed->removeFromSuperview();
  updateSelectionViews();
  layoutSegments();
}

void UISegmentedControl::removeAllSegments() {
  std::vector<std::shared_ptr<UISegment>> removed;
  {
    std::lock_guard lock(mutex_);
    removed.swap(segments_);
    selected_ = UISegmentedControlNoSegment;
  }
  for (const auto& s : removed) s->removeFromSuperview();
}

long UISegmentedControl::selectedSegmentIndex() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void UISegmentedControl::setSelectedSegmentIndex(long index) {
  {
    std::lock_guard lock(mutex_);
    selected_ = index >= 0 && index < static_cast<long>(segments_.size()) ? index : UISegmentedControlNoSegment;
  }
  updateSelectionViews();
}

void UISegmentedControl::updateSelectionViews() {
  auto all = segments();
  long selected = selectedSegmentIndex();
  for (std::size_t i = 0; i < all.size(); ++i) all[i]->setSelected(static_cast<long>(i) == selected);
}

std::optional<std::string> UISegmentedControl::accessibilityValue() const {
  if (auto own = UIControl::accessibilityValue()) return own;
  long selected = selectedSegmentIndex();
  if (selected < 0) return std::nullopt;
  return titleForSegmentAtIndex(static_cast<unsigned long>(selected));
}

long UISegmentedControl::_segmentIndexAtPoint(CGPoint point) const {
  CGRect b = bounds();
  auto count = static_cast<long>(numberOfSegments());
  if (count == 0 || !CGRectContainsPoint(b, point)) return -1;
  long index = static_cast<long>(std::floor((point.x - b.origin.x) / (b.size.width / static_cast<CGFloat>(count))));
  return std::clamp(index, 0L, count - 1);
}

void UISegmentedControl::endTrackingWithTouch(const std::shared_ptr<UITouch>& touch,
                                              const std::shared_ptr<UIEvent>& event) {
  if (!isTouchInside()) return;
  long index = _segmentIndexAtPoint(touch->locationInView(selfView()));
  if (index < 0 || index == selectedSegmentIndex()) return;
  setSelectedSegmentIndex(index);
  sendActionsForControlEvents(UIControlEventValueChanged, event);
}

void UISegmentedControl::layoutSegments() {
  auto all = segments();
  if (all.empty()) return;
  CGRect b = bounds();
  CGFloat width = b.size.width / static_cast<CGFloat>(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i]->setFrame({{b.origin.x + width * static_cast<CGFloat>(i), b.origin.y}, {width, b.size.height}});
  }
}

void UISegmentedControl::layoutSubviews() { layoutSegments(); }

CGSize UISegmentedControl::sizeThatFits(CGSize) {
  CGFloat widest = 0;
  auto all = segments();
  for (const auto& s : all) widest = std::max(widest, s->label()->sizeThatFits({0, 0}).width + 24);
  return {std::max(widest, 60.0) * static_cast<CGFloat>(std::max<std::size_t>(all.size(), 1)), 32};
}
