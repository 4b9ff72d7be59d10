// Small pieces the toolkit's classes share.
#pragma once

#include <memory>
#include <mutex>

#include "objc/runtime.h"
#include "uikit/UIView.h"

namespace uikit_internal {

// The shared pointer of an object owned by one (nullptr during construction).
template <class T>
std::shared_ptr<T> sharedFrom(const objc::Object* object) {
  // One atomic step on the object's reference count rather than three (a copy of
  // its weak reference, the lock, the copy's release): a hit test ends here, and a
  // walk of the views on another thread writes the same count.
  try {
    return std::static_pointer_cast<T>(std::const_pointer_cast<objc::Object>(object->shared_from_this()));
  } catch (const std::bad_weak_ptr&) {
    return nullptr;  // not owned (yet, or any more)
  }
}

// Schedules one layout pass of the visible windows on the main queue.
void scheduleLayoutPass();

// A subview made on first use: `make` builds it, it is stored in `slot` under the
// owner's `mutex`, then added to `parent`. Every call returns the stored view.
template <class T, class Make>
std::shared_ptr<T> lazySubview(std::once_flag& once, std::mutex& mutex, std::shared_ptr<T>& slot, UIView& parent,
                               Make make) {
  std::call_once(once, [&] {
    std::shared_ptr<T> made = make();
    {
      std::lock_guard lock(mutex);
      slot = made;
    }
    parent.addSubview(made);
  });
  std::lock_guard lock(mutex);
  return slot;
}

}  // namespace uikit_internal
