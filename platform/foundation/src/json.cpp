#include "foundation/json.h"

#include <cmath>

#include "objc/exception.h"

namespace NSJSONSerialization {
namespace {

void checkWritable(const JSONValue& value) {
  switch (value.type()) {
    case JSONValue::value_t::number_float:
      if (!std::isfinite(value.get<double>())) {
        throw objc::NSException(objc::NSInvalidArgumentException, "Invalid number value (non-finite) in JSON write");
      }
      break;
    case JSONValue::value_t::binary:
      throw objc::NSException(objc::NSInvalidArgumentException, "Invalid type in JSON write (binary data)");
    case JSONValue::value_t::discarded:
      throw objc::NSException(objc::NSInvalidArgumentException, "Invalid type in JSON write (discarded value)");
    case JSONValue::value_t::array:
      for (const auto& v : value) checkWritable(v);
      break;
    case JSONValue::value_t::object:
      for (const auto& [k, v] : value.items()) checkWritable(v);
      break;
    default:
      break;
  }
}

}  // namespace

std::optional<JSONValue> JSONObjectWithString(const std::optional<std::string>& text) {
  if (!text) throw objc::NSException(objc::NSInvalidArgumentException, "data parameter is nil");
  JSONValue value = JSONValue::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<JSONValue> JSONObjectWithData(const std::optional<NSData>& data) {
  if (!data) throw objc::NSException(objc::NSInvalidArgumentException, "data parameter is nil");
  return JSONObjectWithString(std::string(data->begin(), data->end()));
}

std::string stringWithJSONObject(const JSONValue& value) {
  if (!value.is_array() && !value.is_object()) {
    throw objc::NSException(objc::NSInvalidArgumentException, "Invalid top-level type in JSON write");
  }
  checkWritable(value);
  try {
    return value.dump();
  } catch (const nlohmann::json::exception& e) {
    throw objc::NSException(objc::NSInvalidArgumentException, std::string("Invalid value in JSON write: ") + e.what());
  }
}

NSData dataWithJSONObject(const JSONValue& value) {
  std::string text = stringWithJSONObject(value);
  return NSData(text.begin(), text.end());
}

}  // namespace NSJSONSerialization
