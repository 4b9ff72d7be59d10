#include "quorvel/state/UIViewStorage.h"

#include <cctype>
#include <charconv>
#include <limits>

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(UIViewStorage, objc::Object)

namespace {

// The leading decimal integer of a text, as an integer value reading gives it:
// leading white space and a sign allowed, reading stops at the first other
// character, no digits (or a value out of range) gives 0.
long long integerValue(const std::string& text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p < end && *p == '+') ++p;
  long long value = 0;
  auto [rest, error] = std::from_chars(p, end, value);
  (void)rest;
  return error == std::errc() ? value : 0;
}

}  // namespace

std::shared_ptr<UIViewStorage> UIViewStorage::sharedObject() {
  static dispatch_once_t once;
  static std::shared_ptr<UIViewStorage>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<UIViewStorage>(std::make_shared<UIViewStorage>()); });
  return *instance;
}

const UIViewStorage::ViewsByIdentifier UIViewStorage::_viewsStorageWithIdentifier() const {
  std::lock_guard lock(mutex_);
  return viewsStorageWithIdentifier_;
}

const UIViewStorage::IdentifiersByKey UIViewStorage::_viewsStorageKey() const {
  std::lock_guard lock(mutex_);
  return viewsStorageKey_;
}

void UIViewStorage::setViewForIdentifier(const std::string& identifier, const std::shared_ptr<UIView>& view) {
  std::shared_ptr<UIView> previous = view;
  {
    std::lock_guard lock(mutex_);
    std::swap(viewsStorageWithIdentifier_[identifier], previous);
  }
  // A replaced view is released here, outside the lock.
}

std::shared_ptr<UIView> UIViewStorage::viewForIdentifier(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  auto it = viewsStorageWithIdentifier_.find(identifier);
  return it == viewsStorageWithIdentifier_.end() ? nullptr : it->second;
}

std::size_t UIViewStorage::numberOfViews() const {
  std::lock_guard lock(mutex_);
  return viewsStorageWithIdentifier_.size();
}

void UIViewStorage::setIdentifierForKey(const std::string& key, const std::string& identifier) {
  std::lock_guard lock(mutex_);
  viewsStorageKey_[key] = identifier;
}

std::optional<std::string> UIViewStorage::identifierForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = viewsStorageKey_.find(key);
  if (it == viewsStorageKey_.end()) return std::nullopt;
  return it->second;
}

std::string UIViewStorage::_key() const {
  std::lock_guard lock(mutex_);
  return key_;
}

void UIViewStorage::set_key(const std::string& key) {
  std::lock_guard lock(mutex_);
  key_ = key;
}

unsigned long UIViewStorage::count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

void UIViewStorage::setCount(unsigned long count) {
  std::lock_guard lock(mutex_);
  count_ = count;
}

std::string UIViewStorage::storeView(const std::shared_ptr<UIView>& view, const std::string& identifier) {
  std::shared_ptr<UIView> previous = view;
  std::string key;
  {
    std::lock_guard lock(mutex_);
    std::swap(viewsStorageWithIdentifier_[identifier], previous);
    long long last = integerValue(key_);
    key_ = std::to_string(last < std::numeric_limits<long long>::max() ? last + 1 : last);
    viewsStorageKey_[key_] = identifier;
    key = key_;
  }
  return key;
}

std::shared_ptr<UIView> UIViewStorage::viewForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto guid = viewsStorageKey_.find(key);
  if (guid == viewsStorageKey_.end()) return nullptr;
  auto view = viewsStorageWithIdentifier_.find(guid->second);
  return view == viewsStorageWithIdentifier_.end() ? nullptr : view->second;
}
