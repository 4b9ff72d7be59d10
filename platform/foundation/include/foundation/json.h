// JSON reading and writing with the device's rules: invalid text reads as absent,
// trailing white space is accepted, output is compact, and a value that cannot be
// written (invalid UTF-8, a non-finite number, a top level that is neither an
// array nor an object) raises NSException with a reason. Arrays and objects nested
// more than 512 deep are refused alike (absent when read, raised when written).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "foundation/data.h"
#include "objc/exception.h"

using JSONValue = nlohmann::json;

namespace NSJSONSerialization {
// Absent data raises NSInvalidArgumentException; unparsable data gives absent.
std::optional<JSONValue> JSONObjectWithData(const std::optional<NSData>& data);
std::optional<JSONValue> JSONObjectWithString(const std::optional<std::string>& text);
NSData dataWithJSONObject(const JSONValue& value);
std::string stringWithJSONObject(const JSONValue& value);
}  // namespace NSJSONSerialization
