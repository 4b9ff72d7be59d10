#include "qvdriver/Errors.h"

#include <array>

namespace qvdriver {

namespace {

constexpr std::array kErrors = {
    ErrorKind{"invalid argument", 400, "the arguments passed to the command are invalid"},
    ErrorKind{"invalid element state", 400, "the element cannot take the command in its present state"},
    ErrorKind{"invalid selector", 400, "the selector cannot be parsed"},
    ErrorKind{"invalid session id", 404, "no session with this ID is running"},
    ErrorKind{"no such element", 404, "no element matches the locator"},
    ErrorKind{"stale element reference", 404, "the element was found before the last find; find it again"},
    ErrorKind{"session not created", 500, "a new session could not be created"},
    ErrorKind{"timeout", 500, "the agent did not answer in time"},
    ErrorKind{"unknown command", 404, "the requested resource could not be found"},
    ErrorKind{"unknown method", 405, "the requested command does not take this HTTP method"},
    ErrorKind{"unsupported operation", 500, "the application under test has no such operation"},
    ErrorKind{"unknown error", 500, "an unknown error occurred while handling the command"},
};
static_assert(kErrors.size() == static_cast<std::size_t>(ErrorCode::unknownError) + 1);

}  // namespace

const ErrorKind& errorKind(ErrorCode code) { return kErrors[static_cast<std::size_t>(code)]; }

DriverError::DriverError(ErrorCode code, const std::string& message)
    : std::runtime_error(message.empty() ? std::string(errorKind(code).defaultMessage) : message), code_(code) {}

Failure failureOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const DriverError& e) {
    return {e.code(), e.what()};
  } catch (const nlohmann::json::parse_error& e) {
    return {ErrorCode::invalidArgument, std::string("the body is not JSON: ") + e.what()};
  } catch (const nlohmann::json::type_error& e) {
    return {ErrorCode::invalidArgument, std::string("a parameter has the wrong type: ") + e.what()};
  } catch (const nlohmann::json::out_of_range& e) {
    return {ErrorCode::invalidArgument, std::string("a parameter is missing: ") + e.what()};
  } catch (const std::exception& e) {
    return {ErrorCode::unknownError, e.what()};
  } catch (...) {
    return {ErrorCode::unknownError, std::string(errorKind(ErrorCode::unknownError).defaultMessage)};
  }
}

nlohmann::json errorBody(const Failure& failure) {
  return {{"value",
           {{"error", errorKind(failure.code).word}, {"message", failure.message}, {"stacktrace", ""}}}};
}

}  // namespace qvdriver
