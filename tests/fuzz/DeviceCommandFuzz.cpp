// The device input's line parser: every line gives either a command whose values
// are usable as they are, or an error answer that fits on one line.
#include <cmath>
#include <string_view>

#include "FuzzTarget.h"
#include "command.h"

namespace {

bool hasLineBreakOrControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool finite(CGPoint p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

QV_FUZZ_TARGET(device_command) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const device_input::ParsedCommand parsed = device_input::parseCommand(line);
  if (!parsed.command) {
    QV_FUZZ_CHECK(parsed.error.rfind("error: ", 0) == 0);
    QV_FUZZ_CHECK(!hasLineBreakOrControl(parsed.error));
    QV_FUZZ_CHECK(parsed.error.size() < 200);
    return 0;
  }
  QV_FUZZ_CHECK(parsed.error.empty());
  QV_FUZZ_CHECK(line.size() <= device_input::kMaxLineLength + 1);
  const device_input::Command& command = *parsed.command;
  using device_input::CommandKind;
  switch (command.kind) {
    case CommandKind::Tap:
    case CommandKind::Down:
    case CommandKind::Move:
    case CommandKind::Up:
      QV_FUZZ_CHECK(finite(command.point));
      break;
    case CommandKind::Swipe:
      QV_FUZZ_CHECK(finite(command.point) && finite(command.end));
      QV_FUZZ_CHECK(command.steps >= 1 && command.steps <= device_input::kMaxSwipeSteps);
      break;
    case CommandKind::Type:
      QV_FUZZ_CHECK(!command.text.empty());
      QV_FUZZ_CHECK(command.text.find('\0') == std::string::npos);
      break;
    case CommandKind::Screenshot:
      QV_FUZZ_CHECK(!command.text.empty() && !hasLineBreakOrControl(command.text));
      break;
    case CommandKind::Tree:
      break;
  }
  return 0;
}
