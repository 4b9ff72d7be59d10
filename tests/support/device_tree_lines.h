// The view tree that the device input's "tree" command prints (one view per line,
// indented two spaces per depth: class, frame in window coordinates, hidden flag,
// then a switch's state, text, identifier and layer border width when present), read back into values.
// Free of any test framework, for benchmarks and the soak as well as tests.
#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "uikit/CGGeometry.h"

namespace qvtest {

struct TreeView {
  int depth = 0;
  std::string className;
  CGRect frame;
  bool hidden = false;
  std::optional<bool> on;  // switches only
  std::optional<std::string> text, identifier;
  double borderWidth = 0;
  CGPoint middle() const { return {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2}; }
};

inline std::optional<std::string> quotedTreeField(const std::string& line, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(line, m, std::regex(" " + name + "=\"((?:[^\"\\\\]|\\\\.)*)\""))) return std::nullopt;
  return std::regex_replace(m[1].str(), std::regex("\\\\(.)"), "$1");
}

// One line of the tree; absent when it cannot be read.
inline std::optional<TreeView> readTreeLine(const std::string& line) {
  static const std::regex pattern(R"(^( *)(\S+) \{\{([^,]+), ([^}]+)\}, \{([^,]+), ([^}]+)\}\} hidden=([01])( on=([01]))?.*$)");
  std::smatch m;
  if (!std::regex_match(line, m, pattern)) return std::nullopt;
  TreeView v;
  v.depth = static_cast<int>(m[1].length() / 2);
  v.className = m[2];
  v.frame = CGRectMake(std::stod(m[3]), std::stod(m[4]), std::stod(m[5]), std::stod(m[6]));
  v.hidden = m[7] == "1";
  if (m[9].matched) v.on = m[9] == "1";
  v.text = quotedTreeField(line, "text");
  v.identifier = quotedTreeField(line, "id");
  std::smatch border;
  if (std::regex_search(line, border, std::regex(" border=([0-9.eE+-]+)$"))) v.borderWidth = std::stod(border[1]);
  return v;
}

// The first view with the identifier.
inline std::optional<TreeView> findTreeView(const std::vector<TreeView>& views, const std::string& identifier) {
  for (const auto& v : views) {
    if (v.identifier == identifier) return v;
  }
  return std::nullopt;
}

}  // namespace qvtest
