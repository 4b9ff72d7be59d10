// Items shown by bars (not views): a title, an image, a tag, enabled, and the
// accessibility texts.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "objc/runtime.h"
#include "uikit/UIAccessibility.h"
#include "uikit/UIImage.h"

class UIBarItem : public objc::Object, public UIAccessibility {
  QV_OBJC_DECLARE_CLASS(UIBarItem)
 public:
  UIBarItem() = default;

  std::optional<std::string> title() const;
  virtual void setTitle(std::optional<std::string> title);
  std::shared_ptr<UIImage> image() const;
  void setImage(const std::shared_ptr<UIImage>& image);
  long tag() const;
  void setTag(long tag);
  bool isEnabled() const;
  void setEnabled(bool enabled);

 protected:
  mutable std::mutex mutex_;

 private:
  std::optional<std::string> title_;
  std::shared_ptr<UIImage> image_;
  long tag_ = 0;
  bool enabled_ = true;
};
