// A segmented control. Its subviews are exactly its segments (views of class
// "UISegment", each holding a label), in segment order. selectedSegmentIndex is -1
// when none is selected; accessibilityValue reports the selected segment's title.
// A tap selects the tapped segment and, when the selection changed, runs the
// value-changed actions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIControl.h"

class UISegment;

inline constexpr long UISegmentedControlNoSegment = -1;

class UISegmentedControl : public UIControl {
  QV_OBJC_DECLARE_CLASS(UISegmentedControl)
 public:
  explicit UISegmentedControl(CGRect frame = CGRectZero);
  // initWithItems: — replaces the segments with these titles; returns this control.
  std::shared_ptr<UISegmentedControl> initWithItems(const std::vector<std::string>& items);

  unsigned long numberOfSegments() const;
  std::optional<std::string> titleForSegmentAtIndex(unsigned long index) const;  // absent out of range
  void setTitle(std::optional<std::string> title, unsigned long index);
  void insertSegmentWithTitle(std::optional<std::string> title, unsigned long index, bool animated);
  void removeSegmentAtIndex(unsigned long index, bool animated);
  void removeAllSegments();
  long selectedSegmentIndex() const;
  void setSelectedSegmentIndex(long index);  // out of range selects none
  std::vector<std::shared_ptr<UISegment>> segments() const;

  std::optional<std::string> accessibilityValue() const override;

  void endTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event) override;
  void layoutSubviews() override;
  CGSize sizeThatFits(CGSize size) override;

  // The segment under a point of this control's coordinates, or -1.
  long _segmentIndexAtPoint(CGPoint point) const;

 private:
  void layoutSegments();
  void updateSelectionViews();

  std::vector<std::shared_ptr<UISegment>> segments_;
  long selected_ = UISegmentedControlNoSegment;
};
