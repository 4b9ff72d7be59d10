// A button item of a navigation bar (or toolbar), with an action run when its
// button is tapped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIBarItem.h"

enum UIBarButtonItemStyle : long {
  UIBarButtonItemStylePlain = 0,
  UIBarButtonItemStyleDone = 2,
};

class UIBarButtonItem : public UIBarItem {
  QV_OBJC_DECLARE_CLASS(UIBarButtonItem)
 public:
  using Action = std::function<void(const std::shared_ptr<UIBarButtonItem>&)>;

  UIBarButtonItem() = default;
  // initWithTitle:style:target:action:
  UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style, Action action = nullptr);

  UIBarButtonItemStyle style() const;
  void setStyle(UIBarButtonItemStyle style);
  Action action() const;
  void setAction(Action action);
  void _performAction();  // runs the action when enabled

 private:
  UIBarButtonItemStyle style_ = UIBarButtonItemStylePlain;
  Action action_;
};
