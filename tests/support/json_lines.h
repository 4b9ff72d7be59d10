// The JSON values a desktop tool printed as JSON Lines (`qvctl record`): every
// whole line must be one JSON value. A line that is not fails the test and is
// left out; a last line without its line break is still being written and is
// left for a later read.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace qvtest {

inline std::vector<nlohmann::json> printedJsonLines(const std::string& output) {
  std::vector<nlohmann::json> values;
  std::istringstream lines(output.substr(0, output.rfind('\n') + 1));
  std::string line;
  while (std::getline(lines, line)) {
    nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(value.is_discarded()) << "not a JSON line: " << line.substr(0, 200);
    if (!value.is_discarded()) values.push_back(std::move(value));
  }
  return values;
}

}  // namespace qvtest
