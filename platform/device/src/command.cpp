#include "command.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace device_input {

namespace {

ParsedCommand fail(const std::string& message) { return {std::nullopt, "error: " + message}; }

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) out.emplace_back(text.substr(start, i - start));
  }
  return out;
}

// A finite decimal number that is the whole word.
std::optional<double> number(const std::string& word) {
  if (word.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(word.c_str(), &end);
  if (end != word.c_str() + word.size() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<CGPoint> point(const std::string& x, const std::string& y) {
  auto px = number(x), py = number(y);
  if (!px || !py) return std::nullopt;
  return CGPoint{*px, *py};
}

// "\n" is a line break (the return key), "\b" the delete key, "\\" a backslash;
// any other backslash stands for itself.
std::string unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == 'n' || next == 'b' || next == '\\') {
        out += next == 'n' ? '\n' : next == 'b' ? '\b' : '\\';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool hasControlCharacters(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

ParsedCommand parseCommand(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxLineLength) return fail("line too long");
  if (line.find('\0') != std::string_view::npos) return fail("NUL character in the line");

  std::size_t wordEnd = line.find_first_of(" \t");
  std::string name(line.substr(0, wordEnd));
  std::string_view rest = wordEnd == std::string_view::npos ? std::string_view() : line.substr(wordEnd + 1);
  if (name.empty()) return fail(line.empty() ? "empty command" : "command must start the line");

  Command command;
  if (name == "type" || name == "screenshot") {
    if (rest.empty()) return fail(name == "type" ? "type needs a text" : "screenshot needs a file path");
    if (name == "type") {
      command.kind = CommandKind::Type;
      command.text = unescape(rest);
    } else {
      if (hasControlCharacters(rest)) return fail("control characters in the file path");
      command.kind = CommandKind::Screenshot;
      command.text = std::string(rest);
    }
    return {command, {}};
  }

  auto args = words(rest);
  if (name == "tree") {
    if (!args.empty()) return fail("tree takes no arguments");
    command.kind = CommandKind::Tree;
    return {command, {}};
  }
  if (name == "tap" || name == "down" || name == "move" || name == "up") {
    if (args.size() != 2) return fail(name + " needs X Y");
    auto p = point(args[0], args[1]);
    if (!p) return fail("coordinates must be finite numbers");
    command.kind = name == "tap" ? CommandKind::Tap : name == "down" ? CommandKind::Down
                   : name == "move" ? CommandKind::Move : CommandKind::Up;
    command.point = *p;
    return {command, {}};
  }
  if (name == "swipe") {
    if (args.size() != 4 && args.size() != 5) return fail("swipe needs X1 Y1 X2 Y2 [STEPS]");
    auto from = point(args[0], args[1]), to = point(args[2], args[3]);
    if (!from || !to) return fail("coordinates must be finite numbers");
    command.kind = CommandKind::Swipe;
    command.point = *from;
    command.end = *to;
    if (args.size() == 5) {
      auto steps = number(args[4]);
      if (!steps || *steps != std::floor(*steps) || *steps < 1 || *steps > kMaxSwipeSteps) {
        return fail("STEPS must be a whole number from 1 to " + std::to_string(kMaxSwipeSteps));
      }
      command.steps = static_cast<int>(*steps);
    }
    return {command, {}};
  }
  std::string shown = name.size() > 40 ? name.substr(0, 40) + "..." : name;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return fail("unknown command \"" + shown + "\"");
}

}  // namespace device_input
