// What a navigation bar shows for one screen: its title, the back item that the
// next screen's back indicator uses, and bar button items (not a view).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "objc/runtime.h"
#include "uikit/UIAccessibility.h"

class UIBarButtonItem;

class UINavigationItem : public objc::Object, public UIAccessibility {
  QV_OBJC_DECLARE_CLASS(UINavigationItem)
 public:
  UINavigationItem() = default;
  explicit UINavigationItem(std::optional<std::string> title);  // initWithTitle:

  std::optional<std::string> title() const;
  void setTitle(std::optional<std::string> title);
  std::shared_ptr<UIBarButtonItem> backBarButtonItem() const;
  void setBackBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item);
  std::shared_ptr<UIBarButtonItem> leftBarButtonItem() const;
  void setLeftBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item);
  std::shared_ptr<UIBarButtonItem> rightBarButtonItem() const;
  void setRightBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item);
  bool hidesBackButton() const;
  void setHidesBackButton(bool hides);

  // Called after any change (the navigation bar showing this item refreshes).
  void _setChangeHandler(std::function<void()> handler);

 private:
  void changed();

  mutable std::mutex mutex_;
  std::optional<std::string> title_;
  std::shared_ptr<UIBarButtonItem> back_, left_, right_;
  bool hidesBack_ = false;
  std::function<void()> onChange_;
};
