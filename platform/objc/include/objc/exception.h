#pragma once

#include <exception>
#include <map>
#include <optional>
#include <string>

namespace objc {

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";
inline constexpr const char* NSUnknownKeyException = "NSUnknownKeyException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSGenericException = "NSGenericException";

// The platform's exception: a name and an optional reason text.
class NSException : public std::exception {
 public:
  NSException(std::string name, std::optional<std::string> reason)
      : name_(std::move(name)), reason_(std::move(reason)),
        what_(name_ + (reason_ ? ": " + *reason_ : std::string())) {}

  const std::string& name() const { return name_; }
  const std::optional<std::string>& reason() const { return reason_; }
  const char* what() const noexcept override { return what_.c_str(); }

  [[noreturn]] static void raise(std::string name, std::optional<std::string> reason) {
    throw NSException(std::move(name), std::move(reason));
  }

 private:
  std::string name_;
  std::optional<std::string> reason_;
  std::string what_;
};

}  // namespace objc
