// Accessibility texts carried by views and bar items. Absent by default; each is
// safe to read from any thread. Subclasses may compute a text (a segmented control
// reports its selected segment's title as its value).
#pragma once

#include <mutex>
#include <optional>
#include <string>

class UIAccessibility {
 public:
  virtual ~UIAccessibility() = default;

  virtual std::optional<std::string> accessibilityIdentifier() const;
  virtual void setAccessibilityIdentifier(std::optional<std::string> text);
  virtual std::optional<std::string> accessibilityLabel() const;
  virtual void setAccessibilityLabel(std::optional<std::string> text);
  virtual std::optional<std::string> accessibilityValue() const;
  virtual void setAccessibilityValue(std::optional<std::string> text);
  virtual std::optional<std::string> accessibilityHint() const;
  virtual void setAccessibilityHint(std::optional<std::string> text);
  bool isAccessibilityElement() const;
  void setIsAccessibilityElement(bool value);

 private:
  mutable std::mutex accessibilityMutex_;
  std::optional<std::string> identifier_, label_, value_, hint_;
  bool isElement_ = false;
};
