#include "uikit/UIAlertView.h"

#include <algorithm>

#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"
#include "uikit/_UIAlertOverlayWindow.h"

QV_OBJC_DEFINE_CLASS(UIAlertView, UIView)
QV_OBJC_DEFINE_CLASS(_UIAlertOverlayWindow, UIWindow)

namespace {

constexpr CGFloat kAlertWidth = 270;
constexpr CGFloat kButtonHeight = 44;

// Never destroyed, like the application that shows the alerts.
std::mutex& alertsMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::vector<std::shared_ptr<UIAlertView>>& shownAlerts() {
  static auto* alerts = new std::vector<std::shared_ptr<UIAlertView>>;
  return *alerts;
}

}  // namespace

UIAlertView::UIAlertView(std::optional<std::string> title, std::optional<std::string> message,
                         const std::shared_ptr<UIAlertViewDelegate>& delegate,
                         std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)), message_(std::move(message)), delegate_(delegate),
      cancelTitle_(std::move(cancelButtonTitle)) {
  if (cancelTitle_) buttonTitles_.push_back(*cancelTitle_);
  for (auto& t : otherButtonTitles) buttonTitles_.push_back(std::move(t));
}

std::optional<std::string> UIAlertView::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}
void UIAlertView::setTitle(std::optional<std::string> title) {
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    title_ = title;
    label = titleLabel_;
  }
  if (label) label->setText(std::move(title));
}
std::optional<std::string> UIAlertView::message() const {
  std::lock_guard lock(mutex_);
  return message_;
}
void UIAlertView::setMessage(std::optional<std::string> message) {
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    message_ = message;
    label = messageLabel_;
  }
  if (label) label->setText(std::move(message));
}
std::shared_ptr<UIAlertViewDelegate> UIAlertView::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void UIAlertView::setDelegate(const std::shared_ptr<UIAlertViewDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

long UIAlertView::addButtonWithTitle(const std::string& title) {
  bool built;
  long index;
  {
    std::lock_guard lock(mutex_);
    buttonTitles_.push_back(title);
    index = static_cast<long>(buttonTitles_.size()) - 1;
    built = built_;
  }
  if (built) {
    // A button added after the alert was built gets its view at once.
    auto button = makeButton(title, index);
    {
      std::lock_guard lock(mutex_);
      buttons_.push_back(button);
    }
    addSubview(button);
    setNeedsLayout();
    layoutIfNeeded();
  }
  return index;
}

long UIAlertView::numberOfButtons() const {
  std::lock_guard lock(mutex_);
  return static_cast<long>(buttonTitles_.size());
}

std::optional<std::string> UIAlertView::buttonTitleAtIndex(long index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<long>(buttonTitles_.size())) return std::nullopt;
  return buttonTitles_[static_cast<std::size_t>(index)];
}

long UIAlertView::cancelButtonIndex() const {
  std::lock_guard lock(mutex_);
  return cancelTitle_ ? 0 : -1;
}

std::vector<std::shared_ptr<UIButton>> UIAlertView::buttons() const {
  std::lock_guard lock(mutex_);
  return buttons_;
}

std::shared_ptr<UILabel> UIAlertView::_titleLabel() const {
  std::lock_guard lock(mutex_);
  return titleLabel_;
}

std::shared_ptr<UILabel> UIAlertView::_messageLabel() const {
  std::lock_guard lock(mutex_);
  return messageLabel_;
}

void UIAlertView::buildContent() {
  std::vector<std::string> titles;
  std::optional<std::string> title, message;
  {
    std::lock_guard lock(mutex_);
    if (built_) return;
    built_ = true;
    titles = buttonTitles_;
    title = title_;
    message = message_;
  }
  setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
  layer()->setCornerRadius(14);
  auto titleLabel = std::make_shared<UILabel>();
  titleLabel->setText(title);
  titleLabel->setBold(true);
  titleLabel->setTextAlignment(NSTextAlignmentCenter);
  auto messageLabel = std::make_shared<UILabel>();
  messageLabel->setText(message);
  messageLabel->setFontSize(13);
  messageLabel->setNumberOfLines(0);
  messageLabel->setTextAlignment(NSTextAlignmentCenter);
  addSubview(titleLabel);
  addSubview(messageLabel);
  std::vector<std::shared_ptr<UIButton>> buttons;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    auto button = makeButton(titles[i], static_cast<long>(i));
    addSubview(button);
    buttons.push_back(button);
  }
  std::lock_guard lock(mutex_);
  titleLabel_ = titleLabel;
  messageLabel_ = messageLabel;
  buttons_ = buttons;
}

void UIAlertView::layoutSubviews() {
  std::shared_ptr<UILabel> titleLabel, messageLabel;
  std::vector<std::shared_ptr<UIButton>> buttons;
  {
    std::lock_guard lock(mutex_);
    titleLabel = titleLabel_;
    messageLabel = messageLabel_;
    buttons = buttons_;
  }
  CGFloat y = 16;
  if (titleLabel) {
    titleLabel->setFrame({{16, y}, {kAlertWidth - 32, 22}});
    y += 24;
  }
  if (messageLabel) {
    CGSize size = messageLabel->sizeThatFits({kAlertWidth - 32, 0});
    messageLabel->setFrame({{16, y}, {kAlertWidth - 32, size.height}});
    y += size.height + 16;
  }
  // Two buttons side by side, more stacked.
  if (buttons.size() == 2) {
    buttons[0]->setFrame({{0, y}, {kAlertWidth / 2, kButtonHeight}});
    buttons[1]->setFrame({{kAlertWidth / 2, y}, {kAlertWidth / 2, kButtonHeight}});
    y += kButtonHeight;
  } else {
    for (const auto& b : buttons) {
      b->setFrame({{0, y}, {kAlertWidth, kButtonHeight}});
      y += kButtonHeight;
    }
  }
  CGRect f = frame();
  if (f.size.height != y || f.size.width != kAlertWidth) {
    CGPoint c = center();
    setFrame({{c.x - kAlertWidth / 2, c.y - y / 2}, {kAlertWidth, y}});
  }
}

std::shared_ptr<UIWindow> UIAlertView::_alertWindow() {
  static auto* window = new std::shared_ptr<UIWindow>([] {
    auto w = std::make_shared<_UIAlertOverlayWindow>(UIScreen::mainScreen()->bounds());
    w->setWindowLevel(UIWindowLevelAlert);
    w->setBackgroundColor(UIColor::colorWithWhite(0, 0.4));
    w->setOpaque(false);
    return w;
  }());
  return *window;
}

void UIAlertView::show() {
  auto self = std::static_pointer_cast<UIAlertView>(selfView());
  if (!self || isVisible()) return;
  buildContent();
  auto window = _alertWindow();
  window->setFrame(UIScreen::mainScreen()->bounds());
  {
    std::lock_guard lock(alertsMutex());
    shownAlerts().push_back(self);
  }
  {
    std::lock_guard lock(mutex_);
    visible_ = true;
  }
  CGRect b = window->bounds();
  setCenter({b.size.width / 2, b.size.height / 2});
  layoutSubviews();
  window->addSubview(self);
  window->setHidden(false);  // shown, never made key
}

void UIAlertView::dismissWithClickedButtonIndex(long index, bool) {
  auto self = std::static_pointer_cast<UIAlertView>(selfView());
  if (!self || !isVisible()) return;
  auto del = delegate();
  if (del) del->alertViewWillDismissWithButtonIndex(self, index);
  {
    std::lock_guard lock(mutex_);
    visible_ = false;
  }
  bool none;
  {
    std::lock_guard lock(alertsMutex());
    std::erase(shownAlerts(), self);
    none = shownAlerts().empty();
  }
  removeFromSuperview();
  if (none) _alertWindow()->setHidden(true);
  if (del) del->alertViewDidDismissWithButtonIndex(self, index);
}

bool UIAlertView::isVisible() const {
  std::lock_guard lock(mutex_);
  return visible_;
}

std::vector<std::shared_ptr<UIAlertView>> UIAlertView::_visibleAlerts() {
  std::lock_guard lock(alertsMutex());
  return shownAlerts();
}

std::shared_ptr<UIButton> UIAlertView::makeButton(const std::string& title, long index) {
  auto button = UIButton::buttonWithType(UIButtonTypeSystem);
  button->setTitle(title, UIControlStateNormal);
  std::weak_ptr<UIAlertView> weak = std::static_pointer_cast<UIAlertView>(selfView());
  button->addAction([weak, index](std::shared_ptr<UIControl>, std::shared_ptr<UIEvent>) {
    if (auto alert = weak.lock()) alert->buttonTapped(index);
  }, UIControlEventTouchUpInside);
  return button;
}

void UIAlertView::buttonTapped(long index) {
  auto self = std::static_pointer_cast<UIAlertView>(selfView());
  if (auto del = delegate()) del->alertViewClickedButtonAtIndex(self, index);
  dismissWithClickedButtonIndex(index, true);
}
