// Definition of a toolkit class whose runtime class carries methods in its table.
#pragma once

#include <memory>

#include "objc/runtime.h"

// QV_UIKIT_DEFINE_CLASS(Name, Super, installer): like QV_OBJC_DEFINE_CLASS, with a
// method installer (a callable taking the objc::Class*).
#define QV_UIKIT_DEFINE_CLASS(Name, Super, ...)                                            \
  ::objc::Class* Name::classObject() {                                                     \
    static ::objc::Class* cls = ::objc::Class::registerClass(#Name, Super::classObject(), __VA_ARGS__); \
    return cls;                                                                            \
  }                                                                                        \
  [[maybe_unused]] static const bool qv_objc_factory_##Name = ::objc::registerDefaultFactory<Name>(); \
  [[maybe_unused]] static ::objc::Class* const qv_objc_class_##Name = Name::classObject();

namespace uikit_internal {

// The shared pointer of an object owned by one (nullptr during construction).
template <class T>
std::shared_ptr<T> sharedFrom(const objc::Object* object) {
  auto owner = std::const_pointer_cast<objc::Object>(object->weak_from_this().lock());
  return std::static_pointer_cast<T>(owner);
}

// Schedules one layout pass of the visible windows on the main queue.
void scheduleLayoutPass();

}  // namespace uikit_internal
