// Reading playback reply lists in tests.
#pragma once

#include <string>
#include <vector>

#include "foundation/json.h"

namespace qvtest {

// The element IDs of a find command's reply, in order (none for anything else).
inline std::vector<std::string> elementIds(const JSONValue& reply) {
  std::vector<std::string> ids;
  if (!reply.is_array()) return ids;
  for (const auto& entry : reply) {
    if (entry.is_object() && entry.contains("elementID")) ids.push_back(entry["elementID"].get<std::string>());
  }
  return ids;
}

// The reply of a query command: [{"output": value}].
inline JSONValue outputReply(const std::string& value) { return JSONValue::array({{{"output", value}}}); }

}  // namespace qvtest
