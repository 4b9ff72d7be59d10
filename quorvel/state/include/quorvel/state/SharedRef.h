// A value shared between threads that is only ever read or replaced whole. Readers
// get a complete old or new value, never a torn one, and keep it alive while they use
// it (the reference is counted).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace quorvel {

template <class T>
class SharedRef {
 public:
  std::shared_ptr<T> load() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  void store(std::shared_ptr<T> value) {
    std::shared_ptr<T> old;
    {
      std::lock_guard lock(mutex_);
      old = std::exchange(value_, std::move(value));
    }
    // `old` is released here, outside the lock: a view's last release may run code.
  }

  // Replaces the value with `desired` only while it is still `expected`; answers
  // whether it did. Of several threads taking the same value, exactly one succeeds.
  bool compareExchange(const std::shared_ptr<T>& expected, std::shared_ptr<T> desired) {
    std::shared_ptr<T> old;
    {
      std::lock_guard lock(mutex_);
      if (value_ != expected) return false;
      old = std::exchange(value_, std::move(desired));
    }
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> value_;
};

// A shared text that may be absent.
class SharedText {
 public:
  std::optional<std::string> load() const {
    auto text = ref_.load();
    return text ? std::optional<std::string>(*text) : std::nullopt;
  }

  void store(const std::optional<std::string>& text) {
    ref_.store(text ? std::make_shared<const std::string>(*text) : nullptr);
  }

 private:
  SharedRef<const std::string> ref_;
};

}  // namespace quorvel
