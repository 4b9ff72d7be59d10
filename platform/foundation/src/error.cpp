#include "foundation/error.h"

#include <cstring>

#include "foundation/format.h"

QV_OBJC_DEFINE_CLASS(NSError, objc::Object)

std::shared_ptr<NSError> NSError::posixError(int errnum, std::optional<std::string> failureReason) {
  char buf[256];
  const char* text = ::strerror_r(errnum, buf, sizeof buf);
  return std::make_shared<NSError>(NSPOSIXErrorDomain, errnum, text, std::move(failureReason));
}

std::string NSError::description() const {
  std::string text = NSStringWithFormat("Error Domain=%@ Code=%ld \"%@\"", domain_, code_, description_);
  if (failureReason_) text += NSStringWithFormat(" UserInfo={NSLocalizedFailureReason=%@}", *failureReason_);
  return text;
}
