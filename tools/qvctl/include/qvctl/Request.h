// Playback requests: one JSON object whose members name the command and its target.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvctl {

struct Request {
  std::optional<std::string> functionname;
  std::optional<std::string> accessortype;
  std::optional<std::string> accessorvalue;
  std::optional<std::string> tagname;
  std::optional<std::string> datavalue;
  std::optional<std::string> functiontype;
  std::optional<std::string> functionresulttype;
};

// Compact JSON with a member for every present field (absent fields are left out,
// which the agent reads as absent rather than empty).
std::string buildRequest(const Request& request);

// The request of a convenience command line such as `find text "Log In"` or
// `gettext <id>`; throws Error for an unknown word or wrong arguments.
Request requestForCommand(const std::string& word, const std::vector<std::string>& args);

// One line per convenience command, for --help.
std::string convenienceCommandsHelp();

}  // namespace qvctl
