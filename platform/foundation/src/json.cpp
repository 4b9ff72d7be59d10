#include "foundation/json.h"

#include <cmath>
#include <cstdint>
#include <cstring>

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

// Whether the library writes `text` as it is between quotes: printable ASCII
// without a quote or a backslash, nothing to escape and no UTF-8 to check. Asked
// eight bytes at a time: replies carry megabytes of Base64 images.
bool writtenAsIs(const std::string& text) {
  constexpr std::uint64_t kOnes = ~std::uint64_t{0} / 255;
  constexpr std::uint64_t kHighBits = kOnes * 0x80;
  // Each is exact for the word as a whole: whether any byte of `w` is below 0x20,
  // above 0x7E, or equal to a given byte.
  auto anyBelowSpace = [](std::uint64_t w) { return ((w - kOnes * 0x20) & ~w & kHighBits) != 0; };
  auto anyAboveTilde = [](std::uint64_t w) { return (((w + kOnes * (127 - 0x7E)) | w) & kHighBits) != 0; };
  auto anyEqual = [](std::uint64_t w, unsigned char c) {
    const std::uint64_t x = w ^ (kOnes * c);
    return ((x - kOnes) & ~x & kHighBits) != 0;
  };
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if (anyBelowSpace(w) || anyAboveTilde(w) || anyEqual(w, '"') || anyEqual(w, '\\')) return false;
  }
  for (; n > 0; ++p, --n) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
  }
  return true;
}

// The text dump() writes (no indentation, members in key order, UTF-8 kept),
// written straight into one string of the right size: replies carry megabytes of
// Base64 images, which the library would check byte by byte as UTF-8 while the
// string it writes into grows. Scalars other than plain strings are written by the
// library itself. With `out` null only the length is counted.
std::size_t append(std::string* out, const JSONValue& value) {
  auto put = [out](std::string_view text) {
    if (out) out->append(text);
    return text.size();
  };
  auto putString = [&put](const std::string& text) {
    if (!writtenAsIs(text)) return put(JSONValue(text).dump());
    put("\"");
    put(text);
    return put("\"") + text.size() + 1;
  };
  std::size_t length = 0;
  switch (value.type()) {
    case JSONValue::value_t::array:
      length += put("[");
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin()) length += put(",");
        length += append(out, *it);
      }
      return length + put("]");
    case JSONValue::value_t::object:
      length += put("{");
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin()) length += put(",");
        length += putString(it.key());
        length += put(":");
        length += append(out, it.value());
      }
      return length + put("}");
    case JSONValue::value_t::string:
      return putString(value.get_ref<const std::string&>());
    default:
      return put(value.dump());
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
    std::string text;
    text.reserve(append(nullptr, value));
    append(&text, value);
    return text;
  } catch (const nlohmann::json::exception& e) {
    throw objc::NSException(objc::NSInvalidArgumentException, std::string("Invalid value in JSON write: ") + e.what());
  }
}

NSData dataWithJSONObject(const JSONValue& value) {
  std::string text = stringWithJSONObject(value);
  return NSData(text.begin(), text.end());
}

}  // namespace NSJSONSerialization
