#include "objc/runtime.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace objc {

// Hashing that accepts any text type, so that a lookup by name need not copy it.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

struct ClassRegistry {
  std::mutex mutex;
  std::unordered_map<std::string, std::unique_ptr<Class>, NameHash, std::equal_to<>> classes;

  static ClassRegistry& shared() {
    static ClassRegistry* registry = new ClassRegistry;  // never destroyed: classes outlive static teardown
    return *registry;
  }

  Class* add(const std::string& name, Class* superclass, bool mustBeNew) {
    std::lock_guard lock(mutex);
    auto it = classes.find(name);
    if (it != classes.end()) return mustBeNew ? nullptr : it->second.get();
    auto cls = std::unique_ptr<Class>(new Class(name, superclass));
    cls->allocatedAtRunTime_ = mustBeNew;
    Class* raw = cls.get();
    classes.emplace(name, std::move(cls));
    return raw;
  }
};

IMP Method::implementation() const {
  std::lock_guard lock(mutex_);
  return imp_;
}

IMP Method::setImplementation(IMP imp) {
  std::lock_guard lock(mutex_);
  std::swap(imp_, imp);
  return imp;
}

void method_exchangeImplementations(Method* a, Method* b) {
  if (!a || !b || a == b) return;
  // Both entries stay locked for the whole exchange (in address order, so that two
  // concurrent exchanges cannot deadlock): two exchanges of one pair never
  // interleave into one lost exchange or two entries with the same implementation.
  Method* first = std::less<Method*>()(a, b) ? a : b;
  Method* second = first == a ? b : a;
  std::scoped_lock lock(first->mutex_, second->mutex_);
  if (first->imp_.signature() != second->imp_.signature()) {
    throw NSException(NSInvalidArgumentException,
                      "method_exchangeImplementations: " + a->name() + " and " + b->name() +
                          " have different signatures");
  }
  std::swap(first->imp_, second->imp_);
}

Class* Class::registerClass(const std::string& name, Class* superclass, const MethodInstaller& installMethods) {
  Class* cls = ClassRegistry::shared().add(name, superclass, false);
  if (installMethods) installMethods(cls);
  return cls;
}

Class* Class::allocateClassPair(Class* superclass, const std::string& name) {
  if (name.empty()) return nullptr;
  return ClassRegistry::shared().add(name, superclass, true);
}

Class* Class::named(std::string_view name) {
  auto& registry = ClassRegistry::shared();
  std::lock_guard lock(registry.mutex);
  auto it = registry.classes.find(name);
  return it == registry.classes.end() ? nullptr : it->second.get();
}

bool Class::isSubclassOfClass(const Class* other) const {
  if (!other) return false;
  for (const Class* c = this; c; c = c->superclass_) {
    if (c == other) return true;
  }
  return false;
}

bool Class::addMethodImp(const SEL& sel, IMP imp) {
  std::lock_guard lock(mutex_);
  if (methods_.count(sel)) return false;
  methods_.emplace(sel, std::make_unique<Method>(sel, std::move(imp)));
  return true;
}

IMP Class::replaceMethodImp(const SEL& sel, IMP imp) {
  std::lock_guard lock(mutex_);
  auto it = methods_.find(sel);
  if (it == methods_.end()) {
    methods_.emplace(sel, std::make_unique<Method>(sel, std::move(imp)));
    return IMP();
  }
  return it->second->setImplementation(std::move(imp));
}

Method* Class::getOwnMethod(const SEL& sel) const {
  std::lock_guard lock(mutex_);
  auto it = methods_.find(sel);
  return it == methods_.end() ? nullptr : it->second.get();
}

Method* Class::getInstanceMethod(const SEL& sel) const {
  for (const Class* c = this; c; c = c->superclass_) {
    if (Method* m = c->getOwnMethod(sel)) return m;
  }
  return nullptr;
}

void Class::setFactory(Factory factory) {
  std::lock_guard lock(mutex_);
  factory_ = std::move(factory);
}

std::shared_ptr<Object> Class::createInstance() {
  for (Class* c = this; c; c = c->superclass_) {
    Factory factory;
    {
      std::lock_guard lock(c->mutex_);
      factory = c->factory_;
    }
    if (factory) {
      auto obj = factory();
      if (obj && obj->getClass() != this) obj->setClass(this);
      return obj;
    }
    if (!c->allocatedAtRunTime_) return nullptr;  // a platform class that cannot be made by name
  }
  return nullptr;
}

std::vector<SEL> Class::ownMethodNames() const {
  std::lock_guard lock(mutex_);
  std::vector<SEL> names;
  for (const auto& [name, method] : methods_) names.push_back(name);
  return names;
}

Class* Object::classObject() {
  static Class* cls = [] {
    Class* c = Class::registerClass("NSObject", nullptr);
    c->setFactory([] { return std::make_shared<Object>(); });
    return c;
  }();
  return cls;
}
[[maybe_unused]] static Class* const kNSObjectClass = Object::classObject();

Class* Object::getClass() const {
  Class* cls = isaOverride_.load(std::memory_order_acquire);
  return cls ? cls : nativeClass();
}

void Object::setClass(Class* cls) { isaOverride_.store(cls, std::memory_order_release); }

void object_setClass(Object& obj, Class* cls) { obj.setClass(cls); }

bool Object::isKindOfClass(const Class* cls) const { return getClass()->isSubclassOfClass(cls); }

bool Object::isKindOfClass(std::string_view className) const {
  Class* cls = Class::named(className);
  return cls && isKindOfClass(cls);
}

std::string Object::addressText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
  return buf;
}

std::string Object::description() const { return "<" + className() + ": " + addressText() + ">"; }

std::any Object::valueForKey(const std::string& key) {
  if (Method* m = getClass()->getInstanceMethod(key)) {
    IMP imp = m->implementation();
    if (const auto* fn = imp.as<std::any>()) return (*fn)(*this);
  }
  throw NSException(NSUnknownKeyException, "[" + description() +
                                               " valueForUndefinedKey:]: this class is not key value "
                                               "coding-compliant for the key " + key + ".");
}

void Object::setValueForKey(const std::string& key, std::any value) {
  if (!key.empty()) {
    std::string setter = "set" + key + ":";
    setter[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(setter[3])));
    if (Method* m = getClass()->getInstanceMethod(setter)) {
      IMP imp = m->implementation();
      if (const auto* fn = imp.as<void, std::any>()) return (*fn)(*this, std::move(value));
    }
  }
  throw NSException(NSUnknownKeyException, "[" + description() +
                                               " setValue:forUndefinedKey:]: this class is not key value "
                                               "coding-compliant for the key " + key + ".");
}

std::any* Object::associatedSlot(const void* key) {
  if (key && firstAssociatedKey_ == key) return &firstAssociated_;
  for (auto& [k, value] : moreAssociated_) {
    if (k == key) return &value;
  }
  return nullptr;
}

void Object::setAssociatedObject(const void* key, std::any value) {
  std::any removed;  // released after the lock: its end may reach other objects
  std::lock_guard lock(associatedMutex_);
  if (std::any* slot = associatedSlot(key)) {
    if (value.has_value()) {
      std::swap(*slot, value);
      removed = std::move(value);
    } else if (slot == &firstAssociated_) {
      removed = std::move(firstAssociated_);
      firstAssociated_.reset();
      firstAssociatedKey_ = nullptr;
    } else {
      auto it = std::find_if(moreAssociated_.begin(), moreAssociated_.end(),
                             [key](const auto& entry) { return entry.first == key; });
      removed = std::move(it->second);
      moreAssociated_.erase(it);
    }
  } else if (value.has_value()) {
    if (key && !firstAssociatedKey_) {
      firstAssociatedKey_ = key;
      firstAssociated_ = std::move(value);
    } else {
      moreAssociated_.emplace_back(key, std::move(value));
    }
  }
}

std::any Object::associatedObject(const void* key) const {
  std::lock_guard lock(associatedMutex_);
  const std::any* slot = const_cast<Object*>(this)->associatedSlot(key);
  return slot ? *slot : std::any();
}

void throwUnrecognizedSelector(const Object& receiver, const SEL& sel) {
  throw NSException(NSInvalidArgumentException, "-[" + receiver.className() + " " + sel +
                                                    "]: unrecognized selector sent to instance " +
                                                    receiver.addressText());
}

void throwSignatureMismatch(const Object& receiver, const SEL& sel) {
  throw NSException(NSInvalidArgumentException,
                    "-[" + receiver.className() + " " + sel + "]: message sent with the wrong signature");
}

}  // namespace objc
