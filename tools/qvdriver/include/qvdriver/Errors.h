// The WebDriver errors qvdriver answers with: one table of error words, HTTP
// statuses and default messages, and one function that maps any failure onto it.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qvdriver {

enum class ErrorCode {
  invalidArgument,
  invalidElementState,
  invalidSelector,
  invalidSessionId,
  noSuchElement,
  staleElementReference,
  sessionNotCreated,
  timeout,
  unknownCommand,
  unknownMethod,
  unsupportedOperation,
  unknownError,
};

struct ErrorKind {
  std::string_view word;  // the "error" member of the reply
  int status;             // the HTTP status
  std::string_view defaultMessage;
};

const ErrorKind& errorKind(ErrorCode code);

// A failure a command reports to the client.
class DriverError : public std::runtime_error {
 public:
  explicit DriverError(ErrorCode code, const std::string& message = {});
  ErrorCode code() const { return code_; }

 private:
  ErrorCode code_;
};

// A request whose arguments cannot be used.
[[noreturn]] inline void invalid(const std::string& message) { throw DriverError(ErrorCode::invalidArgument, message); }

struct Failure {
  ErrorCode code;
  std::string message;
};

// DriverError as it is; JSON that cannot be read or has the wrong types is an
// invalid argument; anything else (an agent's exception message, a reply that is
// not understood) an unknown error.
Failure failureOf(std::exception_ptr error);

// {"value": {"error": word, "message": ..., "stacktrace": ""}}
nlohmann::json errorBody(const Failure& failure);

}  // namespace qvdriver
