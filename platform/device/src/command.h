// The device-input protocol's command lines, parsed without touching anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "uikit/CGGeometry.h"

namespace device_input {

inline constexpr std::size_t kMaxLineLength = 4096;
inline constexpr int kDefaultSwipeSteps = 10;
inline constexpr int kMaxSwipeSteps = 1000;

enum class CommandKind { Tap, Down, Move, Up, Swipe, Type, Screenshot, Tree };

struct Command {
  CommandKind kind = CommandKind::Tree;
  CGPoint point;  // tap, down, move, up; where a swipe starts
  CGPoint end;    // where a swipe ends
  int steps = kDefaultSwipeSteps;
  std::string text;  // type: the text with its escapes resolved; screenshot: the path
};

struct ParsedCommand {
  std::optional<Command> command;
  std::string error;  // the "error: ..." answer when command is absent
};

// Parses one line (without its line break; a trailing carriage return is ignored).
ParsedCommand parseCommand(std::string_view line);

}  // namespace device_input
