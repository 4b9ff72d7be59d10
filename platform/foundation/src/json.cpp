#include "foundation/json.h"

#include <cmath>

#include "objc/exception.h"

namespace NSJSONSerialization {
namespace {

// Deepest nesting of arrays and objects read or written. Values are walked
// recursively (copies, comparisons, writing), so a deeper document sent by a
// client could exhaust the stack; it is refused instead.
constexpr int kMaxNesting = 512;

// Whether the nesting of arrays and objects in `text` stays within kMaxNesting,
// not counting brackets inside strings.
bool nestingWithinLimit(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

void checkWritable(const JSONValue& value, int depth = 0) {
  if (depth > kMaxNesting) {
    throw objc::NSException(objc::NSInvalidArgumentException, "Too many nested arrays or objects in JSON write");
  }
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
      for (const auto& v : value) checkWritable(v, depth + 1);
      break;
    case JSONValue::value_t::object:
      for (const auto& [k, v] : value.items()) checkWritable(v, depth + 1);
      break;
    default:
      break;
  }
}

}  // namespace

std::optional<JSONValue> JSONObjectWithString(const std::optional<std::string>& text) {
  if (!text) throw objc::NSException(objc::NSInvalidArgumentException, "data parameter is nil");
  if (!nestingWithinLimit(*text)) return std::nullopt;
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
