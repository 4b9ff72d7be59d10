// The studio's state behind its page: the recorder connection and the steps and
// spy lists it brings, the device screen watched for changes, the device input for
// the person's touches and typing, and replays of the recording.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qvctl/DeviceInput.h"
#include "qvctl/Replay.h"

namespace studio {

struct StudioOptions {
  std::string agentHost = "127.0.0.1";
  std::uint16_t recorderPort = qvctl::kRecorderPort;
  std::uint16_t playbackPort = qvctl::kPlayBackPort;
  std::uint16_t devicePort = qvctl::kDeviceInputPort;
  // How often the screen is looked at while a page is watching it.
  std::chrono::milliseconds screenInterval{100};
  std::chrono::milliseconds replayTimeout{10000};
};

// A request the studio refuses or cannot carry out; the route layer maps the kind
// onto its HTTP status.
enum class FailureKind { invalidArgument, conflict, unavailable, deviceError };

struct Failure : std::runtime_error {
  Failure(FailureKind k, const std::string& message) : std::runtime_error(message), kind(k) {}
  FailureKind kind;
};

class Studio {
 public:
  explicit Studio(StudioOptions options);
  ~Studio();
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;

  // The page's view of everything, once something changed after version `since`
  // (or `wait` passed): steps from index `fromStep` on, with their images.
  nlohmann::json state(std::uint64_t since, std::size_t fromStep, std::chrono::milliseconds wait);
  // The latest PNG of the device screen; absent before the first one.
  std::optional<std::string> screenPNG();

  // The person's hands: one device input command, its answer ("ok ..."); throws
  // Failure for an "error: ..." answer or an unreachable device.
  std::string device(const std::string& line);

  // Recorder commands ("startobjectspy", "stopobjectspy"); Failure when no recorder
  // connection is open.
  void sendRecorderCommand(const std::string& command);
  // Adds a line asserting `kind` ("text", "visible", "enabled") of the entry of the
  // latest spy list at `index`; "text" expects the text it shows now.
  void addAssertion(std::size_t index, const std::string& kind);
  // Highlights the entry of the latest spy list at `index` (0: the picked element).
  void highlight(std::size_t index);

  // The recording as JSON Lines, one step per line.
  std::string recordingText();
  void clearSteps();
  // Plays the recording on a thread of its own; Failure when one is running or
  // there is nothing to play.
  void startReplay();

 private:
  void recorderLoop();
  void screenLoop();
  void handleFrame(const std::string& payload);
  void setRecorderStatus(const std::string& status);
  // The notice a mode switch shows on the device: gone at the first screen change
  // once it has had its time, or at the latest after a limit (under mutex_).
  void noticeShown(const std::string& text);
  bool noticeGone(bool screenChanged);
  void changed();  // under mutex_
  bool sleepFor(std::chrono::milliseconds d);  // false when stopping

  StudioOptions options_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::uint64_t version_ = 1;

  // The recording: one step per line, and when each line came (milliseconds since
  // the epoch, for the page's measurements).
  struct Line {
    std::string text;
    std::int64_t receivedMs;
  };
  std::vector<Line> lines_;
  void addLine(std::string text);  // under mutex_
  std::string text() const;        // under mutex_
  nlohmann::json spyList_ = nlohmann::json::array();
  std::uint64_t spyVersion_ = 0;
  bool spyMode_ = false;
  std::string notice_;  // the device's notice while it covers the screen
  std::chrono::steady_clock::time_point noticeSince_{};
  std::string recorderStatus_ = "connecting";
  int recorderFd_ = -1;  // the open recorder connection, for commands
  std::mutex sendMutex_;

  std::string screen_;  // PNG bytes
  std::uint64_t screenVersion_ = 0;
  double screenWidth_ = 0, screenHeight_ = 0;  // points
  std::chrono::steady_clock::time_point lastWatched_{};

  bool replaying_ = false;
  std::vector<qvctl::StepResult> replayResults_;
  std::string replaySummary_;
  std::thread replayThread_;

  std::mutex deviceMutex_;
  qvctl::DeviceInput device_;

  std::thread recorderThread_, screenThread_;
};

}  // namespace studio
