#include "class_support.h"
#include "uikit/UINavigationBar.h"

#include <algorithm>

#include "uikit/UIBarButtonItem.h"
#include "uikit/UINavigationButton.h"
#include "uikit/UINavigationItemView.h"
#include "uikit/UITouch.h"
#include "uikit/_UINavigationBarBackIndicatorView.h"

QV_OBJC_DEFINE_CLASS(UINavigationBar, UIView)
QV_OBJC_DEFINE_CLASS(UINavigationItemView, UIView)
QV_OBJC_DEFINE_CLASS(_UINavigationBarBackIndicatorView, UIView)
QV_OBJC_DEFINE_CLASS(UINavigationButton, UIButton)

// Item view --------------------------------------------------------------------

UINavigationItemView::UINavigationItemView(CGRect frame) : UIView(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

std::shared_ptr<UINavigationItem> UINavigationItemView::item() const {
  std::lock_guard lock(mutex_);
  return item_.lock();
}

void UINavigationItemView::_setItem(const std::shared_ptr<UINavigationItem>& item) {
  {
    std::lock_guard lock(mutex_);
    item_ = item;
  }
  titleLabel()->setText(item ? item->title() : std::nullopt);
  setNeedsLayout();
}

std::optional<std::string> UINavigationItemView::title() const {
  auto i = item();
  return i ? i->title() : std::nullopt;
}

std::shared_ptr<UILabel> UINavigationItemView::titleLabel() {
  return uikit_internal::lazySubview(labelOnce_, mutex_, label_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setBold(true);
    return label;
  });
}

void UINavigationItemView::layoutSubviews() { titleLabel()->setFrame(bounds()); }

// Back indicator ---------------------------------------------------------------

_UINavigationBarBackIndicatorView::_UINavigationBarBackIndicatorView(CGRect frame) : UIView(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

std::optional<std::string> _UINavigationBarBackIndicatorView::backTitle() const {
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    label = label_;
  }
  return label ? label->text() : std::nullopt;
}

void _UINavigationBarBackIndicatorView::_setBackTitle(std::optional<std::string> title) {
  titleLabel()->setText(std::move(title));
}

std::shared_ptr<UILabel> _UINavigationBarBackIndicatorView::titleLabel() {
  return uikit_internal::lazySubview(labelOnce_, mutex_, label_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextColor(UIColor::systemBlueColor());
    return label;
  });
}

void _UINavigationBarBackIndicatorView::layoutSubviews() {
  CGRect b = bounds();
  titleLabel()->setFrame({{b.origin.x + 20, b.origin.y}, {std::max(0.0, b.size.width - 20), b.size.height}});
}

// Button of a bar button item ----------------------------------------------------

UINavigationButton::UINavigationButton(CGRect frame) : UIButton(frame) {
  setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
}

std::shared_ptr<UIBarButtonItem> UINavigationButton::item() const {
  std::lock_guard lock(mutex_);
  return item_.lock();
}

void UINavigationButton::_setItem(const std::shared_ptr<UIBarButtonItem>& item) {
  bool install;
  {
    std::lock_guard lock(mutex_);
    item_ = item;
    install = !actionInstalled_;
    actionInstalled_ = true;
  }
  setTitle(item ? item->title() : std::nullopt, UIControlStateNormal);
  setEnabled(!item || item->isEnabled());
  if (install) {
    addAction([](std::shared_ptr<UIControl> control, std::shared_ptr<UIEvent>) {
      if (auto button = std::static_pointer_cast<UINavigationButton>(control)) {
        if (auto barItem = button->item()) barItem->_performAction();
      }
    }, UIControlEventTouchUpInside);
  }
}

// Bar ----------------------------------------------------------------------------

UINavigationBar::UINavigationBar(CGRect frame) : UIView(frame) {
  setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
}

std::vector<std::shared_ptr<UINavigationItem>> UINavigationBar::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

void UINavigationBar::setItems(const std::vector<std::shared_ptr<UINavigationItem>>& items, bool) {
  {
    std::lock_guard lock(mutex_);
    items_ = items;
  }
  rebuildItemViews();
}

std::shared_ptr<UINavigationItem> UINavigationBar::topItem() const {
  std::lock_guard lock(mutex_);
  return items_.empty() ? nullptr : items_.back();
}

std::shared_ptr<UINavigationItem> UINavigationBar::backItem() const {
  std::lock_guard lock(mutex_);
  return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
}

void UINavigationBar::pushNavigationItem(const std::shared_ptr<UINavigationItem>& item, bool) {
  if (!item) return;
  {
    std::lock_guard lock(mutex_);
    items_.push_back(item);
  }
  rebuildItemViews();
}

std::shared_ptr<UINavigationItem> UINavigationBar::popNavigationItemAnimated(bool) {
  std::shared_ptr<UINavigationItem> popped;
  {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return nullptr;
    popped = items_.back();
    items_.pop_back();
  }
  rebuildItemViews();
  return popped;
}

std::shared_ptr<UINavigationBarDelegate> UINavigationBar::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void UINavigationBar::setDelegate(const std::shared_ptr<UINavigationBarDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

std::shared_ptr<UINavigationItemView> UINavigationBar::_titleView() const {
  std::lock_guard lock(mutex_);
  return titleView_;
}

std::shared_ptr<_UINavigationBarBackIndicatorView> UINavigationBar::_backIndicatorView() const {
  std::lock_guard lock(mutex_);
  return backView_;
}

UINavigationBar::ItemViews UINavigationBar::itemViews() const {
  std::lock_guard lock(mutex_);
  return {titleView_, backView_, rightButton_, leftButton_};
}

void UINavigationBar::rebuildItemViews() {
  auto top = topItem();
  auto back = backItem();
  auto [titleView, backView, right, left] = itemViews();
  // The top item's view.
  if (top && !titleView) {
    titleView = std::make_shared<UINavigationItemView>();
    addSubview(titleView);
  } else if (!top && titleView) {
    titleView->removeFromSuperview();
    titleView.reset();
  }
  if (titleView) titleView->_setItem(top);
  // The back indicator, with the back item's back title.
  bool showBack = back && top && !top->hidesBackButton() && !top->leftBarButtonItem();
  if (showBack && !backView) {
    backView = std::make_shared<_UINavigationBarBackIndicatorView>();
    addSubview(backView);
  } else if (!showBack && backView) {
    backView->removeFromSuperview();
    backView.reset();
  }
  if (backView) {
    auto backButton = back->backBarButtonItem();
    std::optional<std::string> title = backButton ? backButton->title() : back->title();
    backView->_setBackTitle(title.value_or("Back"));
  }
  // Buttons for the top item's bar button items.
  auto syncButton = [this](std::shared_ptr<UINavigationButton>& button, const std::shared_ptr<UIBarButtonItem>& item) {
    if (item && !button) {
      button = std::make_shared<UINavigationButton>();
      addSubview(button);
    } else if (!item && button) {
      button->removeFromSuperview();
      button.reset();
    }
    if (button) button->_setItem(item);
  };
  syncButton(right, top ? top->rightBarButtonItem() : nullptr);
  syncButton(left, top ? top->leftBarButtonItem() : nullptr);
  {
    std::lock_guard lock(mutex_);
    titleView_ = titleView;
    backView_ = backView;
    rightButton_ = right;
    leftButton_ = left;
  }
  // The bar follows later changes of the top item.
  if (top) {
    std::weak_ptr<UINavigationBar> weak = std::static_pointer_cast<UINavigationBar>(selfView());
    top->_setChangeHandler([weak] {
      if (auto bar = weak.lock()) bar->rebuildItemViews();
    });
  }
  setNeedsLayout();
  layoutSubviews();
}

void UINavigationBar::layoutSubviews() {
  CGRect b = bounds();
  auto [titleView, backView, right, left] = itemViews();
  CGFloat side = std::min(100.0, b.size.width / 4);
  if (titleView) titleView->setFrame({{side, 0}, {std::max(0.0, b.size.width - 2 * side), b.size.height}});
  if (backView) backView->setFrame({{0, 0}, {side, b.size.height}});
  if (left) left->setFrame({{8, 0}, {side - 8, b.size.height}});
  if (right) right->setFrame({{b.size.width - side, 0}, {side - 8, b.size.height}});
}

CGSize UINavigationBar::sizeThatFits(CGSize size) { return {size.width, kHeight}; }

void UINavigationBar::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  auto backView = _backIndicatorView();
  bool inBack = false;
  if (backView && !touches.empty()) {
    inBack = CGRectContainsPoint(backView->frame(), touches.front()->locationInView(selfView()));
  }
  std::lock_guard lock(mutex_);
  backPressed_ = inBack;
}

void UINavigationBar::touchesMoved(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}

void UINavigationBar::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  std::lock_guard lock(mutex_);
  backPressed_ = false;
}

void UINavigationBar::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  bool pressed;
  {
    std::lock_guard lock(mutex_);
    pressed = backPressed_;
    backPressed_ = false;
  }
  auto backView = _backIndicatorView();
  if (!pressed || !backView || touches.empty()) return;
  if (!CGRectContainsPoint(backView->frame(), touches.front()->locationInView(selfView()))) return;
  auto self = std::static_pointer_cast<UINavigationBar>(selfView());
  if (auto del = delegate(); del && del->navigationBarBackIndicatorTapped(self)) return;
  popNavigationItemAnimated(true);
}
