#include "uikit/UIBarButtonItem.h"
#include "uikit/UIBarItem.h"
#include "uikit/UINavigationItem.h"
#include "uikit/UITabBarItem.h"

QV_OBJC_DEFINE_CLASS(UIBarItem, objc::Object)
QV_OBJC_DEFINE_CLASS(UIBarButtonItem, UIBarItem)
QV_OBJC_DEFINE_CLASS(UITabBarItem, UIBarItem)
QV_OBJC_DEFINE_CLASS(UINavigationItem, objc::Object)

std::optional<std::string> UIBarItem::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}
void UIBarItem::setTitle(std::optional<std::string> title) {
  std::lock_guard lock(mutex_);
  title_ = std::move(title);
}
std::shared_ptr<UIImage> UIBarItem::image() const {
  std::lock_guard lock(mutex_);
  return image_;
}
void UIBarItem::setImage(const std::shared_ptr<UIImage>& image) {
  std::lock_guard lock(mutex_);
  image_ = image;
}
long UIBarItem::tag() const {
  std::lock_guard lock(mutex_);
  return tag_;
}
void UIBarItem::setTag(long tag) {
  std::lock_guard lock(mutex_);
  tag_ = tag;
}
bool UIBarItem::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}
void UIBarItem::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

UIBarButtonItem::UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style, Action action)
    : style_(style), action_(std::move(action)) {
  setTitle(std::move(title));
}

UIBarButtonItemStyle UIBarButtonItem::style() const {
  std::lock_guard lock(mutex_);
  return style_;
}
void UIBarButtonItem::setStyle(UIBarButtonItemStyle style) {
  std::lock_guard lock(mutex_);
  style_ = style;
}
UIBarButtonItem::Action UIBarButtonItem::action() const {
  std::lock_guard lock(mutex_);
  return action_;
}
void UIBarButtonItem::setAction(Action action) {
  std::lock_guard lock(mutex_);
  action_ = std::move(action);
}
void UIBarButtonItem::_performAction() {
  auto run = action();
  if (run && isEnabled()) run(std::static_pointer_cast<UIBarButtonItem>(shared_from_this()));
}

UITabBarItem::UITabBarItem(std::optional<std::string> title, std::shared_ptr<UIImage> image, long tag) {
  setTitle(std::move(title));
  setImage(image);
  setTag(tag);
}

std::optional<std::string> UITabBarItem::badgeValue() const {
  std::lock_guard lock(mutex_);
  return badgeValue_;
}
void UITabBarItem::setBadgeValue(std::optional<std::string> badge) {
  std::lock_guard lock(mutex_);
  badgeValue_ = std::move(badge);
}

UINavigationItem::UINavigationItem(std::optional<std::string> title) : title_(std::move(title)) {}

std::optional<std::string> UINavigationItem::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}
void UINavigationItem::setTitle(std::optional<std::string> title) {
  {
    std::lock_guard lock(mutex_);
    title_ = std::move(title);
  }
  changed();
}
std::shared_ptr<UIBarButtonItem> UINavigationItem::backBarButtonItem() const {
  std::lock_guard lock(mutex_);
  return back_;
}
void UINavigationItem::setBackBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) {
  {
    std::lock_guard lock(mutex_);
    back_ = item;
  }
  changed();
}
std::shared_ptr<UIBarButtonItem> UINavigationItem::leftBarButtonItem() const {
  std::lock_guard lock(mutex_);
  return left_;
}
void UINavigationItem::setLeftBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) {
  {
    std::lock_guard lock(mutex_);
    left_ = item;
  }
  changed();
}
std::shared_ptr<UIBarButtonItem> UINavigationItem::rightBarButtonItem() const {
  std::lock_guard lock(mutex_);
  return right_;
}
void UINavigationItem::setRightBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) {
  {
    std::lock_guard lock(mutex_);
    right_ = item;
  }
  changed();
}
bool UINavigationItem::hidesBackButton() const {
  std::lock_guard lock(mutex_);
  return hidesBack_;
}
void UINavigationItem::setHidesBackButton(bool hides) {
  {
    std::lock_guard lock(mutex_);
    hidesBack_ = hides;
  }
  changed();
}
void UINavigationItem::_setChangeHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(handler);
}
void UINavigationItem::changed() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    handler = onChange_;
  }
  if (handler) handler();
}
