// The device input's view tree read back in a test: see device_tree_lines.h.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_tree_lines.h"

namespace qvtest {

// A line that cannot be read fails the test and is left out.
inline std::vector<TreeView> parseTree(const std::vector<std::string>& lines) {
  std::vector<TreeView> views;
  for (const auto& line : lines) {
    if (auto view = readTreeLine(line)) {
      views.push_back(*view);
    } else {
      ADD_FAILURE() << "unreadable tree line: " << line;
    }
  }
  return views;
}

}  // namespace qvtest
