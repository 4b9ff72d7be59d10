// The device-input command lines: what each valid line means and the refusal of
// malformed ones.
#include <gtest/gtest.h>

#include <vector>

#include "command.h"

using device_input::CommandKind;
using device_input::parseCommand;

namespace {

device_input::Command valid(const std::string& line) {
  auto parsed = parseCommand(line);
  EXPECT_TRUE(parsed.command.has_value()) << line << " -> " << parsed.error;
  return parsed.command.value_or(device_input::Command{});
}

}  // namespace

TEST(DeviceCommand, PointCommands) {
  auto tap = valid("tap 10 20.5");
  EXPECT_EQ(tap.kind, CommandKind::Tap);
  EXPECT_EQ(tap.point, CGPointMake(10, 20.5));
  EXPECT_EQ(valid("down -1e1  3\r").point, CGPointMake(-10, 3));  // runs of blanks, CR LF
  EXPECT_EQ(valid("move 1 2").kind, CommandKind::Move);
  EXPECT_EQ(valid("up\t0 0").kind, CommandKind::Up);
}

TEST(DeviceCommand, SwipeStepsTextAndPaths) {
  auto swipe = valid("swipe 1 2 3 4");
  EXPECT_EQ(swipe.kind, CommandKind::Swipe);
  EXPECT_EQ(swipe.point, CGPointMake(1, 2));
  EXPECT_EQ(swipe.end, CGPointMake(3, 4));
  EXPECT_EQ(swipe.steps, 10);
  EXPECT_EQ(valid("swipe 1 2 3 4 25").steps, 25);

  // The rest of the line, blanks kept; \n, \b and \\ are the only escapes.
  auto type = valid("type  hello world\\n");
  EXPECT_EQ(type.kind, CommandKind::Type);
  EXPECT_EQ(type.text, " hello world\n");
  EXPECT_EQ(valid("type a\\bb\\\\c\\x").text, "a\bb\\c\\x");
  EXPECT_EQ(valid("type trailing\\").text, "trailing\\");

  auto shot = valid("screenshot /tmp/a b.png");
  EXPECT_EQ(shot.kind, CommandKind::Screenshot);
  EXPECT_EQ(shot.text, "/tmp/a b.png");
  EXPECT_EQ(valid("tree").kind, CommandKind::Tree);
}

TEST(DeviceCommand, MalformedLinesAreRefused) {
  for (const std::string& line : std::vector<std::string>{
        "", " ", "tap", "tap 1", "tap 1 2 3", "tap x 2", "tap 1 2x", "tap nan 2", "tap 1 inf", "tap 1e999 2",
        "tap 0x",  "TAP 1 2", " tap 1 2", "jump 1 2", "swipe 1 2 3", "swipe 1 2 3 4 0", "swipe 1 2 3 4 1001",
        "swipe 1 2 3 4 2.5", "swipe 1 2 3 4 5 6", "type", "type ", "screenshot", "screenshot a\tb", "tree now",
        std::string("tap 1 2\0", 8)}) {
    auto parsed = parseCommand(line);
    EXPECT_FALSE(parsed.command.has_value()) << "'" << line << "'";
    EXPECT_EQ(parsed.error.rfind("error: ", 0), 0u) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  }
  std::string longLine = "type " + std::string(device_input::kMaxLineLength, 'a');
  EXPECT_EQ(parseCommand(longLine).error, "error: line too long");
  // An unknown word is named in the answer, made printable and short.
  auto unknown = parseCommand(std::string("zap\x01") + std::string(100, 'z'));
  EXPECT_EQ(unknown.error.find('\x01'), std::string::npos);
  EXPECT_LT(unknown.error.size(), 80u);
}
