// JSON reading: any bytes read as absent or as a value; a container that was read
// is written back as compact JSON that reads back to the same value.
#include <string>

#include "FuzzTarget.h"
#include "foundation/json.h"

QV_FUZZ_TARGET(json_reader) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = NSJSONSerialization::JSONObjectWithString(text);
  const auto fromData = NSJSONSerialization::JSONObjectWithData(NSData(data, data + size));
  QV_FUZZ_CHECK(value.has_value() == fromData.has_value());
  if (!value) return 0;
  QV_FUZZ_CHECK(*value == *fromData);
  if (!value->is_array() && !value->is_object()) return 0;
  const std::string written = NSJSONSerialization::stringWithJSONObject(*value);
  QV_FUZZ_CHECK(written.find('\n') == std::string::npos);
  const auto reread = NSJSONSerialization::JSONObjectWithString(written);
  QV_FUZZ_CHECK(reread.has_value() && *reread == *value);
  return 0;
}
