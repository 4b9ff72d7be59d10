#pragma once

#include <memory>
#include <optional>
#include <string>

#include "objc/runtime.h"

inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";

// An error: domain, code, description and an optional failure reason.
class NSError : public objc::Object {
  QV_OBJC_DECLARE_CLASS(NSError)
 public:
  NSError(std::string domain, long code, std::string localizedDescription,
          std::optional<std::string> localizedFailureReason = std::nullopt)
      : domain_(std::move(domain)), code_(code), description_(std::move(localizedDescription)),
        failureReason_(std::move(localizedFailureReason)) {}

  // An error in the POSIX domain for `errnum`, described by the system's text.
  static std::shared_ptr<NSError> posixError(int errnum, std::optional<std::string> failureReason = std::nullopt);

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const std::string& localizedDescription() const { return description_; }
  const std::optional<std::string>& localizedFailureReason() const { return failureReason_; }
  std::string description() const override;

 private:
  std::string domain_;
  long code_;
  std::string description_;
  std::optional<std::string> failureReason_;
};

using NSErrorPtr = std::shared_ptr<const NSError>;
