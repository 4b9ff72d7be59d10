// The button a navigation bar shows for a bar button item; a tap runs the item's
// action.
#pragma once

#include <memory>

#include "uikit/UIBarButtonItem.h"
#include "uikit/UIButton.h"

class UINavigationButton : public UIButton {
  QV_OBJC_DECLARE_CLASS(UINavigationButton)
 public:
  explicit UINavigationButton(CGRect frame = CGRectZero);

  std::shared_ptr<UIBarButtonItem> item() const;
  void _setItem(const std::shared_ptr<UIBarButtonItem>& item);

 private:
  std::weak_ptr<UIBarButtonItem> item_;
  bool actionInstalled_ = false;
};
