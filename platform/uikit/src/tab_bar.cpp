#include <algorithm>

#include "class_support.h"
#include "uikit/UITabBar.h"
#include "uikit/UITabBarButton.h"

QV_OBJC_DEFINE_CLASS(UITabBar, UIView)
QV_OBJC_DEFINE_CLASS(UITabBarButton, UIControl)

// Button -------------------------------------------------------------------------

UITabBarButton::UITabBarButton(CGRect frame) : UIControl(frame) { setOpaque(false); }

std::shared_ptr<UITabBarItem> UITabBarButton::item() const {
  std::lock_guard lock(mutex_);
  return item_.lock();
}

void UITabBarButton::_setItem(const std::shared_ptr<UITabBarItem>& item) {
  {
    std::lock_guard lock(mutex_);
    item_ = item;
  }
  titleLabel()->setText(item ? item->title() : std::nullopt);
}

std::optional<std::string> UITabBarButton::title() const {
  auto i = item();
  return i ? i->title() : std::nullopt;
}

std::shared_ptr<UILabel> UITabBarButton::titleLabel() {
  return uikit_internal::lazySubview(labelOnce_, mutex_, label_, *this, [&] {
    auto label = std::make_shared<UILabel>();
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setFontSize(10);
    return label;
  });
}

void UITabBarButton::layoutSubviews() {
  CGRect b = bounds();
  titleLabel()->setFrame({{0, b.size.height - 20}, {b.size.width, 16}});
}

// Bar ------------------------------------------------------------------------------

UITabBar::UITabBar(CGRect frame) : UIView(frame) { setBackgroundColor(UIColor::colorWithWhite(0.97, 1)); }

std::vector<std::shared_ptr<UITabBarItem>> UITabBar::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

void UITabBar::setItems(const std::vector<std::shared_ptr<UITabBarItem>>& items, bool) {
  std::vector<std::shared_ptr<UITabBarButton>> old;
  {
    std::lock_guard lock(mutex_);
    items_ = items;
    old.swap(buttons_);
    if (std::find(items_.begin(), items_.end(), selected_) == items_.end()) selected_.reset();
  }
  for (const auto& b : old) b->removeFromSuperview();
  std::vector<std::shared_ptr<UITabBarButton>> buttons;
  std::weak_ptr<UITabBar> weak = std::static_pointer_cast<UITabBar>(selfView());
  for (const auto& item : items) {
    auto button = std::make_shared<UITabBarButton>();
    button->_setItem(item);
    button->addAction([weak](std::shared_ptr<UIControl> control, std::shared_ptr<UIEvent>) {
      if (auto bar = weak.lock()) bar->_buttonTapped(std::static_pointer_cast<UITabBarButton>(control));
    }, UIControlEventTouchUpInside);
    addSubview(button);
    buttons.push_back(button);
  }
  {
    std::lock_guard lock(mutex_);
    buttons_ = buttons;
  }
  updateButtonSelection();
  layoutSubviews();
}

std::shared_ptr<UITabBarItem> UITabBar::selectedItem() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void UITabBar::setSelectedItem(const std::shared_ptr<UITabBarItem>& item) {
  {
    std::lock_guard lock(mutex_);
    selected_ = std::find(items_.begin(), items_.end(), item) != items_.end() ? item : nullptr;
  }
  updateButtonSelection();
}

void UITabBar::setSelectionHandler(SelectionHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = handler ? std::make_shared<SelectionHandler>(std::move(handler)) : nullptr;
}

std::vector<std::shared_ptr<UITabBarButton>> UITabBar::_buttons() const {
  std::lock_guard lock(mutex_);
  return buttons_;
}

void UITabBar::_buttonTapped(const std::shared_ptr<UITabBarButton>& button) {
  auto item = button ? button->item() : nullptr;
  if (!item || !item->isEnabled()) return;
  setSelectedItem(item);
  std::shared_ptr<SelectionHandler> handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  if (handler) (*handler)(item);
}

void UITabBar::updateButtonSelection() {
  auto selected = selectedItem();
  for (const auto& b : _buttons()) {
    bool on = b->item() == selected && selected;
    b->setSelected(on);
    b->titleLabel()->setTextColor(on ? UIColor::systemBlueColor() : UIColor::grayColor());
  }
}

void UITabBar::layoutSubviews() {
  auto buttons = _buttons();
  if (buttons.empty()) return;
  CGRect b = bounds();
  CGFloat width = b.size.width / static_cast<CGFloat>(buttons.size());
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    buttons[i]->setFrame({{width * static_cast<CGFloat>(i), 0}, {width, kHeight}});
  }
}

CGSize UITabBar::sizeThatFits(CGSize size) { return {size.width, kHeight}; }
