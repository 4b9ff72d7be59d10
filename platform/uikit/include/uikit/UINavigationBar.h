// A navigation bar: a stack of navigation items. It shows the top item as a view of
// the private class "UINavigationItemView" (with a title label), a back indicator
// (private class "_UINavigationBarBackIndicatorView", with the back title) when
// there is an item below the top, and a button (class "UINavigationButton") for
// the top item's right and left bar button items. The item views take no touches:
// the bar handles them, and a tap on the back indicator pops the top screen
// (through the delegate when there is one, else by popping the top item).
#pragma once

#include <memory>
#include <vector>

#include "uikit/UINavigationItem.h"
#include "uikit/UIView.h"

class UINavigationBar;
class UINavigationItemView;
class _UINavigationBarBackIndicatorView;
class UINavigationButton;

class UINavigationBarDelegate {
 public:
  virtual ~UINavigationBarDelegate() = default;
  // The back indicator was tapped; answer true when the delegate handled it.
  virtual bool navigationBarBackIndicatorTapped(const std::shared_ptr<UINavigationBar>& bar) = 0;
};

class UINavigationBar : public UIView {
  QV_OBJC_DECLARE_CLASS(UINavigationBar)
 public:
  explicit UINavigationBar(CGRect frame = CGRectZero);

  std::vector<std::shared_ptr<UINavigationItem>> items() const;
  void setItems(const std::vector<std::shared_ptr<UINavigationItem>>& items, bool animated);
  std::shared_ptr<UINavigationItem> topItem() const;
  std::shared_ptr<UINavigationItem> backItem() const;  // the item below the top
  void pushNavigationItem(const std::shared_ptr<UINavigationItem>& item, bool animated);
  std::shared_ptr<UINavigationItem> popNavigationItemAnimated(bool animated);

  std::shared_ptr<UINavigationBarDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UINavigationBarDelegate>& delegate);  // weak

  std::shared_ptr<UINavigationItemView> _titleView() const;
  std::shared_ptr<_UINavigationBarBackIndicatorView> _backIndicatorView() const;

  void layoutSubviews() override;
  CGSize sizeThatFits(CGSize size) override;
  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

  static constexpr CGFloat kHeight = 44.0;

 private:
  // The bar's own subviews, read together under the lock.
  struct ItemViews {
    std::shared_ptr<UINavigationItemView> titleView;
    std::shared_ptr<_UINavigationBarBackIndicatorView> backView;
    std::shared_ptr<UINavigationButton> right, left;
  };
  ItemViews itemViews() const;
  void rebuildItemViews();

  std::vector<std::shared_ptr<UINavigationItem>> items_;
  std::weak_ptr<UINavigationBarDelegate> delegate_;
  std::shared_ptr<UINavigationItemView> titleView_;
  std::shared_ptr<_UINavigationBarBackIndicatorView> backView_;
  std::shared_ptr<UINavigationButton> rightButton_, leftButton_;
  bool backPressed_ = false;
};
