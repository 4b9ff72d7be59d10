#include "qvctl/Recording.h"

#include <nlohmann/json.hpp>

namespace qvctl {

namespace {

std::optional<nlohmann::json> parsed(std::string_view payload) {
  auto value = nlohmann::json::parse(payload, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> recordingLine(std::string_view payload) {
  auto value = parsed(payload);
  if (!value) return std::nullopt;
  if (payload.find_first_of("\r\n") == std::string_view::npos) return std::string(payload);
  // Line breaks can only be white space between the tokens (inside a string they
  // are escaped), so writing the value again loses nothing.
  return value->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::string> indentedRecordingText(std::string_view payload) {
  auto value = parsed(payload);
  if (!value) return std::nullopt;
  return value->dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace qvctl
