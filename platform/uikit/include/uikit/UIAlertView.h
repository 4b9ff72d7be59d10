// Alert views. A shown alert lives in an overlay window above the application's
// windows (window level alert) that never becomes key, so the key window stays the
// application's. It shows its title, message and one button per button title
// (cancel first); a tap on a button tells the delegate and dismisses the alert.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UIAlertView;

class UIAlertViewDelegate {
 public:
  virtual ~UIAlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(const std::shared_ptr<UIAlertView>&, long) {}
  virtual void alertViewWillDismissWithButtonIndex(const std::shared_ptr<UIAlertView>&, long) {}
  virtual void alertViewDidDismissWithButtonIndex(const std::shared_ptr<UIAlertView>&, long) {}
};

class UIAlertView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIAlertView)
 public:
  UIAlertView() = default;
  // initWithTitle:message:delegate:cancelButtonTitle:otherButtonTitles:
  UIAlertView(std::optional<std::string> title, std::optional<std::string> message,
              const std::shared_ptr<UIAlertViewDelegate>& delegate, std::optional<std::string> cancelButtonTitle,
              std::vector<std::string> otherButtonTitles = {});

  std::optional<std::string> title() const;
  void setTitle(std::optional<std::string> title);
  std::optional<std::string> message() const;
  void setMessage(std::optional<std::string> message);
  std::shared_ptr<UIAlertViewDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UIAlertViewDelegate>& delegate);  // weak

  // Button titles: the cancel button (when given) is index 0.
  long addButtonWithTitle(const std::string& title);
  long numberOfButtons() const;
  std::optional<std::string> buttonTitleAtIndex(long index) const;
  long cancelButtonIndex() const;  // -1 without a cancel button
  std::vector<std::shared_ptr<UIButton>> buttons() const;  // the button views
  std::shared_ptr<UILabel> _titleLabel() const;
  std::shared_ptr<UILabel> _messageLabel() const;

  void show();
  // Dismisses without telling the delegate about a click (will/did dismiss only).
  void dismissWithClickedButtonIndex(long index, bool animated);
  bool isVisible() const;

  // The alerts currently shown, oldest first.
  static std::vector<std::shared_ptr<UIAlertView>> _visibleAlerts();
  // The overlay window alerts are shown in (made on first use).
  static std::shared_ptr<UIWindow> _alertWindow();

  void layoutSubviews() override;

 private:
  void buildContent();
  // A button with the title whose tap dismisses the alert with `index`.
  std::shared_ptr<UIButton> makeButton(const std::string& title, long index);
  void buttonTapped(long index);

  std::optional<std::string> title_;
  std::optional<std::string> message_;
  std::weak_ptr<UIAlertViewDelegate> delegate_;
  std::optional<std::string> cancelTitle_;
  std::vector<std::string> buttonTitles_;  // all titles, cancel first
  std::shared_ptr<UILabel> titleLabel_, messageLabel_;
  std::vector<std::shared_ptr<UIButton>> buttons_;
  bool visible_ = false;
  bool built_ = false;
};
