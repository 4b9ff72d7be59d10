// The platform's object runtime: runtime classes with names, superclasses and method
// tables, messaging through those tables (so that exchanging two implementations
// redirects every caller), associated objects and key-value access.
#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <vector>

#include "objc/exception.h"

namespace objc {

class Object;
class Class;
using id = std::shared_ptr<Object>;
using weak_id = std::weak_ptr<Object>;
using SEL = std::string;

// A method implementation: a type-erased callable taking the receiver first.
// The signature is part of the value so that a call with the wrong argument or
// result types is refused instead of misbehaving.
class IMP {
 public:
  IMP() = default;

  template <class R, class... A>
  static IMP make(std::function<R(Object&, A...)> fn) {
    IMP imp;
    imp.signature_ = std::type_index(typeid(std::function<R(Object&, A...)>));
    imp.fn_ = std::make_shared<const std::function<R(Object&, A...)>>(std::move(fn));
    return imp;
  }

  template <class R, class... A>
  const std::function<R(Object&, A...)>* as() const {
    if (!fn_ || signature_ != std::type_index(typeid(std::function<R(Object&, A...)>))) return nullptr;
    return static_cast<const std::function<R(Object&, A...)>*>(fn_.get());
  }

  explicit operator bool() const { return fn_ != nullptr; }
  std::type_index signature() const { return signature_; }

 private:
  std::type_index signature_ = std::type_index(typeid(void));
  std::shared_ptr<const void> fn_;
};

// One entry of a class's method table. Its implementation can be replaced or
// exchanged at run time from any thread.
class Method {
 public:
  Method(SEL name, IMP imp) : name_(std::move(name)), imp_(std::move(imp)) {}
  const SEL& name() const { return name_; }
  IMP implementation() const;
  IMP setImplementation(IMP imp);  // returns the previous one

 private:
  friend void method_exchangeImplementations(Method* a, Method* b);
  const SEL name_;
  mutable std::mutex mutex_;
  IMP imp_;
};

// Exchanges the implementations of two methods (method swizzling), atomically with
// respect to other exchanges and to messaging. Both must have the same signature;
// otherwise NSInvalidArgumentException is raised.
void method_exchangeImplementations(Method* a, Method* b);

class Class {
 public:
  using MethodInstaller = std::function<void(Class*)>;

  // Registers a class compiled into the platform. Idempotent per name: a second
  // registration of the same name returns the existing class.
  static Class* registerClass(const std::string& name, Class* superclass,
                              const MethodInstaller& installMethods = nullptr);
  // Creates a new class at run time (an application's own subclass). Returns
  // nullptr when the name is already taken.
  static Class* allocateClassPair(Class* superclass, const std::string& name);
  // Class lookup by name (NSClassFromString); nullptr when no such class exists.
  static Class* named(std::string_view name);

  const std::string& name() const { return name_; }
  Class* superclass() const { return superclass_; }
  // True when this class is `other` or inherits from it.
  bool isSubclassOfClass(const Class* other) const;

  // class_addMethod: adds to this class's own table; false when the class itself
  // already implements the selector (inherited ones may be overridden).
  template <class R, class... A>
  bool addMethod(const SEL& sel, std::type_identity_t<std::function<R(Object&, A...)>> fn) {
    return addMethodImp(sel, IMP::make<R, A...>(std::move(fn)));
  }
  bool addMethodImp(const SEL& sel, IMP imp);
  // class_replaceMethod: sets the implementation in this class's own table,
  // adding the entry if needed; returns the previous own implementation.
  IMP replaceMethodImp(const SEL& sel, IMP imp);

  // class_getInstanceMethod: searches this class, then its superclasses.
  Method* getInstanceMethod(const SEL& sel) const;
  Method* getOwnMethod(const SEL& sel) const;
  bool instancesRespondToSelector(const SEL& sel) const { return getInstanceMethod(sel) != nullptr; }
  std::vector<SEL> ownMethodNames() const;

  // Instantiation by class ([[NSClassFromString(name) alloc] init]): a class (or, for
  // a class made with allocateClassPair, its nearest platform superclass) that has a
  // factory makes the instance, whose run-time class is then set to this class.
  // nullptr when that platform class has no factory: an instance of a superclass's
  // type would not be the object that the class's methods expect.
  using Factory = std::function<std::shared_ptr<Object>()>;
  void setFactory(Factory factory);
  std::shared_ptr<Object> createInstance();

  Class(const Class&) = delete;
  Class& operator=(const Class&) = delete;

 private:
  Class(std::string name, Class* superclass) : name_(std::move(name)), superclass_(superclass) {}
  friend struct ClassRegistry;

  const std::string name_;
  Class* const superclass_;
  bool allocatedAtRunTime_ = false;  // made by allocateClassPair: no C++ type of its own
  mutable std::mutex mutex_;
  std::map<SEL, std::unique_ptr<Method>, std::less<>> methods_;
  Factory factory_;
};

inline std::string NSStringFromClass(const Class* cls) { return cls ? cls->name() : std::string(); }
inline Class* NSClassFromString(std::string_view name) { return Class::named(name); }

// Declares the runtime class of a platform class inside its definition. The
// matching definition in a source file is QV_OBJC_DEFINE_CLASS or an explicit
// classObject() that registers methods.
#define QV_OBJC_DECLARE_CLASS(Name)                                 \
 public:                                                           \
  static ::objc::Class* classObject();                             \
  ::objc::Class* nativeClass() const override { return classObject(); }

// QV_OBJC_DEFINE_CLASS(Name, Super[, installer]): the optional installer (a callable
// taking the objc::Class*) puts the class's methods into its table.
#define QV_OBJC_DEFINE_CLASS(Name, Super, ...)                                     \
  ::objc::Class* Name::classObject() {                                             \
    static ::objc::Class* cls =                                                    \
        ::objc::Class::registerClass(#Name, Super::classObject() __VA_OPT__(, ) __VA_ARGS__); \
    return cls;                                                                    \
  }                                                                                \
  [[maybe_unused]] static const bool qv_objc_factory_##Name =                      \
      ::objc::registerDefaultFactory<Name>();                                      \
  [[maybe_unused]] static ::objc::Class* const qv_objc_class_##Name = Name::classObject();

// The root of every platform object ("NSObject").
class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  static Class* classObject();
  // The class this C++ type stands for. Overridden by QV_OBJC_DECLARE_CLASS.
  virtual Class* nativeClass() const { return classObject(); }

  // The run-time class: the native class unless object_setClass changed it.
  Class* getClass() const;
  void setClass(Class* cls);  // object_setClass
  // Classes live as long as the process, so their names can be handed out by reference.
  const std::string& className() const { return getClass()->name(); }

  bool isKindOfClass(const Class* cls) const;
  bool isKindOfClass(std::string_view className) const;  // false for unknown names
  bool isMemberOfClass(const Class* cls) const { return getClass() == cls; }
  bool respondsToSelector(const SEL& sel) const { return getClass()->instancesRespondToSelector(sel); }

  // Key-value coding. The default looks up a method named after the key whose
  // signature is std::any() (setter "setKey:" taking std::any) and raises
  // NSUnknownKeyException when there is none.
  virtual std::any valueForKey(const std::string& key);
  virtual void setValueForKey(const std::string& key, std::any value);

  // Associated objects: values attached to this object for its lifetime.
  void setAssociatedObject(const void* key, std::any value);
  std::any associatedObject(const void* key) const;

  virtual std::string description() const;
  std::string addressText() const;  // "0x..." of this object

  template <class T>
  std::shared_ptr<T> self() { return std::static_pointer_cast<T>(shared_from_this()); }

 private:
  std::atomic<Class*> isaOverride_{nullptr};
  mutable std::mutex associatedMutex_;
  // The first association lives in the object itself (most objects that have one
  // have exactly one); any further ones in a small flat list.
  const void* firstAssociatedKey_ = nullptr;
  std::any firstAssociated_;
  std::vector<std::pair<const void*, std::any>> moreAssociated_;
  std::any* associatedSlot(const void* key);
};

void object_setClass(Object& obj, Class* cls);
inline std::string object_getClassName(const Object& obj) { return obj.className(); }

[[noreturn]] void throwUnrecognizedSelector(const Object& receiver, const SEL& sel);
[[noreturn]] void throwSignatureMismatch(const Object& receiver, const SEL& sel);

// Sends a message through the receiver's method table. The argument types (as
// deduced or given) and the result type must match the registered signature.
template <class R = void, class... A>
R msgSend(Object& receiver, const SEL& sel, A... args) {
  Method* m = receiver.getClass()->getInstanceMethod(sel);
  if (!m) throwUnrecognizedSelector(receiver, sel);
  IMP imp = m->implementation();
  const auto* fn = imp.template as<R, A...>();
  if (!fn) throwSignatureMismatch(receiver, sel);
  return (*fn)(receiver, std::move(args)...);
}

// Gives a class with a default constructor a factory for Class::createInstance.
template <class T>
bool registerDefaultFactory() {
  if constexpr (std::is_default_constructible_v<T>) {
    T::classObject()->setFactory([] { return std::static_pointer_cast<Object>(std::make_shared<T>()); });
  }
  return true;
}

// Casts an id to a platform type when the object is of that C++ type.
template <class T>
std::shared_ptr<T> cast(const id& obj) {
  return std::dynamic_pointer_cast<T>(obj);
}

// Makes an instance of the C++ type T whose run-time class is `cls`, a runtime
// subclass of T's class (as an application's own subclass would be).
template <class T, class... Args>
std::shared_ptr<T> makeInstanceOf(Class* cls, Args&&... args) {
  auto obj = std::make_shared<T>(std::forward<Args>(args)...);
  if (cls) object_setClass(*obj, cls);
  return obj;
}

}  // namespace objc
