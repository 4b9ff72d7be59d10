// Replay of recordings: a recording (JSON Lines, one recorded step per line, as the
// recorder port sent it, and our own assertion lines) read into steps, and each step
// played through playback requests: the element waited for until the screen has
// settled, then clicked, typed into, switched or checked.
//
// An assertion line is a JSON object (a recorded step is a list) with the key
// "assert": {"assert":"text"|"visible"|"enabled", "expected":"...", (text only)
// "target":{"className":..., "xpath:position":..., "elementText":..., "mode":...}}.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvctl/Connection.h"
#include "qvctl/Frame.h"
#include "qvctl/Request.h"

namespace qvctl {

// The recorded actions besides the clicks.
inline constexpr std::string_view kTypeAction = "TypeTextOnEditBox";
inline constexpr std::string_view kSelectSwitch = "Mobile_SelectSwitch";
inline constexpr std::string_view kDeselectSwitch = "Mobile_DeSelectSwitch";
// A click on a button: found at its xpath, it must still show the recorded title.
inline constexpr std::string_view kClickButton = "ClickButton";
// "Click", "ClickButton" or "ClickImage": the element is clicked.
bool isClickAction(std::string_view action);

// What a step acts on, as the recording describes it.
struct StepTarget {
  std::string className;
  std::optional<std::string> xpath;  // "xpath:position"
  std::optional<std::string> text;   // "elementText"
  std::string mode = "native";       // "native", or "web" for page elements
  std::optional<int> index;          // among the visible views of its class
};

struct RecordedStep {
  int line = 0;          // line of the recording, from 1
  std::string action;    // "Click", "ClickButton", "ClickImage", "TypeTextOnEditBox",
                         // "Mobile_SelectSwitch" or "Mobile_DeSelectSwitch"
  StepTarget target;
  std::string data;      // the typed text of "TypeTextOnEditBox"
  // Assertion lines: "text", "visible" or "enabled" (action empty), and the text
  // expected by "text".
  std::string assertion;
  std::string expected;
  std::string source;    // the line as the recording holds it
};

// The line of a recording asserting `kind` ("text", "visible", "enabled") of the
// target; "text" expects `expected`.
std::string assertionLine(const std::string& kind, const StepTarget& target, const std::string& expected);

struct Recording {
  std::string name;  // the file's name without its folder and extension
  std::vector<RecordedStep> steps;
};

// A recording that cannot be played: every bad line, each as "NAME:LINE: reason".
class RecordingError : public Error {
 public:
  explicit RecordingError(std::vector<std::string> problems);
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::vector<std::string> problems_;
};

// Reads a recording. Blank lines and spy lists (lists of element descriptions
// without "action") are not steps and are passed over. Throws RecordingError naming
// every broken line, unknown action or missing key, so that nothing is played from
// a recording that does not parse.
Recording parseRecording(std::string_view text, const std::string& name);
// The same for a file; throws Error when it cannot be read.
Recording readRecording(const std::string& path);

// "TypeTextOnEditBox UITextField \"abc\"": a step for people.
std::string describeStep(const RecordedStep& step);

struct StepResult {
  int number = 0;  // from 1
  RecordedStep step;
  bool passed = false;
  std::string message;  // what went wrong, or what was done
  std::string reply;    // the agent's last reply for the step
  std::chrono::milliseconds time{0};
  std::string snapshot;  // the screen saved for a failed step, if any
};

// One playback request out, its reply's payload back.
using PlaybackSender = std::function<std::string(const Request&)>;

struct ReplayOptions {
  bool keepGoing = false;  // play the steps after a failed one
  // How long a step waits for its element (and an assertion for its condition).
  std::chrono::milliseconds timeout{5000};
  std::chrono::milliseconds pollInterval{100};
  // Where a failed step saves the screen ("NAME-stepN.jpg"); empty: nowhere.
  std::string snapshotDir;
  // Called as each step ends, before the next one starts.
  std::function<void(const StepResult&)> onStep;
};

// Plays the steps in order and returns one result per step played.
std::vector<StepResult> replay(const Recording& recording, const PlaybackSender& send,
                               const ReplayOptions& options = {});

// What plays a recording's requests on one device: the agent's playback port
// (PlaybackSession) or a WebDriver session (WebDriverSession).
class StepDriver {
 public:
  virtual ~StepDriver() = default;
  // Gets the device ready, so that the wait for it is not taken from the first
  // step's time; throws Error when it cannot be reached.
  virtual void open() = 0;
  // One playback request out, its reply's payload back.
  virtual std::string play(const Request& request) = 0;
};

// One playback connection kept open for many requests, opened again when the
// agent closed it (the playback server listens again a second later).
class PlaybackSession : public StepDriver {
 public:
  PlaybackSession(std::string host, std::uint16_t port, std::chrono::milliseconds timeout);
  void open() override;
  std::string play(const Request& request) override;

 private:
  std::string host_;
  std::uint16_t port_;
  std::chrono::milliseconds timeout_;
  std::optional<Connection> connection_;
};

// The result as one JSON object (one line of `qvctl replay --json`).
std::string resultJson(const std::string& recording, const StepResult& result);
// The result as one line for people.
std::string resultLine(const StepResult& result);

}  // namespace qvctl
