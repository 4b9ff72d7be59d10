#include "uikit/CALayer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <unordered_set>

#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(CALayer, objc::Object)

CGFloat CALayer::borderWidth() const {
  std::lock_guard lock(mutex_);
  return borderWidth_;
}
void CALayer::setBorderWidth(CGFloat width) {
  std::lock_guard lock(mutex_);
  borderWidth_ = width;
}
CGColorRef CALayer::borderColor() const {
  std::lock_guard lock(mutex_);
  return borderColor_;
}
void CALayer::setBorderColor(CGColorRef color) {
  std::lock_guard lock(mutex_);
  borderColor_ = std::move(color);
}
CGFloat CALayer::cornerRadius() const {
  std::lock_guard lock(mutex_);
  return cornerRadius_;
}
void CALayer::setCornerRadius(CGFloat radius) {
  std::lock_guard lock(mutex_);
  cornerRadius_ = radius;
}
CGColorRef CALayer::backgroundColor() const {
  std::lock_guard lock(mutex_);
  return backgroundColor_;
}
void CALayer::setBackgroundColor(CGColorRef color) {
  std::lock_guard lock(mutex_);
  backgroundColor_ = std::move(color);
}
float CALayer::opacity() const {
  std::lock_guard lock(mutex_);
  return opacity_;
}
void CALayer::setOpacity(float opacity) {
  std::lock_guard lock(mutex_);
  opacity_ = opacity;
}
bool CALayer::masksToBounds() const {
  std::lock_guard lock(mutex_);
  return masksToBounds_;
}
void CALayer::setMasksToBounds(bool masks) {
  std::lock_guard lock(mutex_);
  masksToBounds_ = masks;
}
std::shared_ptr<UIView> CALayer::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void CALayer::_setDelegate(const std::weak_ptr<UIView>& view) {
  std::lock_guard lock(mutex_);
  delegate_ = view;
}

namespace {

template <class T>
T anyAs(const std::any& value, const std::string& key) {
  if (const T* v = std::any_cast<T>(&value)) return *v;
  // Numbers of another arithmetic type are converted, as boxed numbers would be.
  if constexpr (std::is_arithmetic_v<T>) {
    if (const double* d = std::any_cast<double>(&value)) return static_cast<T>(*d);
    if (const float* f = std::any_cast<float>(&value)) return static_cast<T>(*f);
    if (const int* i = std::any_cast<int>(&value)) return static_cast<T>(*i);
    if (const long* l = std::any_cast<long>(&value)) return static_cast<T>(*l);
    if (const bool* b = std::any_cast<bool>(&value)) return static_cast<T>(*b);
  }
  throw objc::NSException(objc::NSInvalidArgumentException, "CALayer: value of the wrong type for key " + key);
}

}  // namespace

namespace {

// The keys of text attributes, each kept once for the process, so that an attribute
// holds a pointer instead of a copy. Hosts use a handful of keys.
const std::string* sharedKey(const std::string& key) {
  static std::mutex mutex;
  static auto& keys = *new std::unordered_set<std::string>;  // layers are released during exit too
  std::lock_guard lock(mutex);
  return &*keys.insert(key).first;
}

}  // namespace

// One allocation: the link, the key and the characters right after the size (a
// 36-character identifier fits a 64-byte heap block).
struct CALayer::TextAttribute {
  TextAttribute* next;
  const std::string* key;
  std::uint32_t size;
  char first[4];  // the characters start here and run past the end of the struct

  static TextAttribute* make(const std::string* key, std::string_view text) {
    const std::size_t bytes = std::max(sizeof(TextAttribute), offsetof(TextAttribute, first) + text.size());
    auto* attribute = new (::operator new(bytes)) TextAttribute{nullptr, key, static_cast<std::uint32_t>(text.size()), {}};
    std::copy(text.begin(), text.end(), attribute->chars());
    return attribute;
  }
  static void destroy(TextAttribute* attribute) { ::operator delete(static_cast<void*>(attribute)); }

  char* chars() { return reinterpret_cast<char*>(this) + offsetof(TextAttribute, first); }
  std::string text() { return {chars(), size}; }
};

CALayer::~CALayer() {
  while (TextAttribute* attribute = texts_) {
    texts_ = attribute->next;
    TextAttribute::destroy(attribute);
  }
}

CALayer::TextAttribute* CALayer::findText(const std::string& key) const {
  for (TextAttribute* attribute = texts_; attribute; attribute = attribute->next) {
    if (*attribute->key == key) return attribute;
  }
  return nullptr;
}

void CALayer::removeText(const std::string& key) {
  for (TextAttribute** link = &texts_; *link; link = &(*link)->next) {
    if (*(*link)->key == key) {
      TextAttribute* attribute = *link;
      *link = attribute->next;
      TextAttribute::destroy(attribute);
      return;
    }
  }
}

std::any CALayer::valueForKey(const std::string& key) {
  if (key == "borderWidth") return borderWidth();
  if (key == "borderColor") return borderColor();
  if (key == "cornerRadius") return cornerRadius();
  if (key == "backgroundColor") return backgroundColor();
  if (key == "opacity") return opacity();
  if (key == "masksToBounds") return masksToBounds();
  std::lock_guard lock(mutex_);
  if (TextAttribute* attribute = findText(key)) return attribute->text();
  if (!attributes_) return std::any();
  auto it = attributes_->find(key);
  return it == attributes_->end() ? std::any() : it->second;
}

bool CALayer::_hasAttribute(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return findText(key) || (attributes_ && attributes_->count(key));
}

void CALayer::setValueForKey(const std::string& key, std::any value) {
  if (key == "borderWidth") return setBorderWidth(anyAs<CGFloat>(value, key));
  if (key == "cornerRadius") return setCornerRadius(anyAs<CGFloat>(value, key));
  if (key == "opacity") return setOpacity(anyAs<float>(value, key));
  if (key == "masksToBounds") return setMasksToBounds(anyAs<bool>(value, key));
  if (key == "borderColor" || key == "backgroundColor") {
    CGColorRef color = value.has_value() ? anyAs<CGColorRef>(value, key) : nullptr;
    return key == "borderColor" ? setBorderColor(color) : setBackgroundColor(color);
  }
  const auto* text = std::any_cast<std::string>(&value);
  TextAttribute* added = text ? TextAttribute::make(sharedKey(key), *text) : nullptr;
  std::lock_guard lock(mutex_);
  removeText(key);
  if (attributes_) attributes_->erase(key);
  if (added) {
    added->next = texts_;
    texts_ = added;
  } else if (value.has_value()) {
    if (!attributes_) attributes_ = std::make_unique<std::map<std::string, std::any>>();
    (*attributes_)[key] = std::move(value);
  }
}
