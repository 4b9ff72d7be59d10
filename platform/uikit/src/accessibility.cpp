#include "uikit/UIAccessibility.h"

#define QV_ACCESSIBILITY_TEXT(Getter, Setter, member)                 \
  std::optional<std::string> UIAccessibility::Getter() const {       \
    std::lock_guard lock(accessibilityMutex_);                       \
    return member;                                                   \
  }                                                                  \
  void UIAccessibility::Setter(std::optional<std::string> text) {    \
    std::lock_guard lock(accessibilityMutex_);                       \
    member = std::move(text);                                        \
  }

QV_ACCESSIBILITY_TEXT(accessibilityIdentifier, setAccessibilityIdentifier, identifier_)
QV_ACCESSIBILITY_TEXT(accessibilityLabel, setAccessibilityLabel, label_)
QV_ACCESSIBILITY_TEXT(accessibilityValue, setAccessibilityValue, value_)
QV_ACCESSIBILITY_TEXT(accessibilityHint, setAccessibilityHint, hint_)

bool UIAccessibility::isAccessibilityElement() const {
  std::lock_guard lock(accessibilityMutex_);
  return isElement_;
}

void UIAccessibility::setIsAccessibilityElement(bool value) {
  std::lock_guard lock(accessibilityMutex_);
  isElement_ = value;
}
