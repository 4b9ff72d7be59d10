// Reading playback reply lists in tests.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qvtest {

// The element IDs of a find command's reply, in order (none for anything else).
inline std::vector<std::string> elementIds(const nlohmann::json& reply) {
  std::vector<std::string> ids;
  if (!reply.is_array()) return ids;
  for (const auto& entry : reply) {
    if (entry.is_object() && entry.contains("elementID")) ids.push_back(entry["elementID"].get<std::string>());
  }
  return ids;
}

// The reply of a query command: [{"output": value}].
inline nlohmann::json outputReply(const std::string& value) { return nlohmann::json::array({{{"output", value}}}); }

}  // namespace qvtest
