// Definition of a toolkit class whose runtime class carries methods in its table.
#pragma once

#include <memory>

#include "objc/runtime.h"

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
