// The studio's state behind its page: the application when the studio runs it,
// the recorder connection and the steps and spy lists it brings, the device screen
// watched for changes, the device input for the person's touches and typing, the
// recording as the person edits it, and replays of it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qvctl/DeviceInput.h"
#include "qvctl/Export.h"
#include "qvctl/Replay.h"

#include "AppRunner.h"

namespace studio {

struct StudioOptions {
  std::string agentHost = "127.0.0.1";
  std::uint16_t recorderPort = qvctl::kRecorderPort;
  std::uint16_t playbackPort = qvctl::kPlayBackPort;
  std::uint16_t devicePort = qvctl::kDeviceInputPort;
  // How often the screen is looked at while a page is watching it.
  std::chrono::milliseconds screenInterval{100};
  std::chrono::milliseconds replayTimeout{10000};
  // The application the studio runs itself (its words); empty: one someone else runs.
  std::vector<std::string> appCommand;
  std::map<std::string, std::string> appEnvironment;
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
  // (or `wait` passed): steps from index `fromStep` on, with their images, or all
  // of them when the page's list (version `list`, 0: none yet) is out of date.
  nlohmann::json state(std::uint64_t since, std::size_t fromStep, std::uint64_t list,
                       std::chrono::milliseconds wait);
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
  // The recording as a test of its own for a WebDriver endpoint (qvctl export);
  // refused when there is no step.
  std::string exportedTest(qvctl::ExportLanguage language);
  void clearSteps();
  // Replaces the steps with those of a saved recording; throws qvctl::RecordingError
  // with its bad lines when it does not parse. Spy lists and blank lines are left
  // out, so that step N is line N.
  void openRecording(const std::string& text, const std::string& name);
  // One edit of the step at `index`: "delete", "up", "down", or "text" (the typed
  // text of a TypeTextOnEditBox step becomes `text`). Refused while a replay runs.
  void editStep(std::size_t index, const std::string& edit, const std::string& text);

  // Starts the application again (only when the studio runs it): its screen, spy
  // list and recorder session go with the old run; `newRecording` also clears the
  // steps, so that the recorder's steps of the new run make a recording of their own.
  void restartApplication(bool newRecording);
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
  void applicationChanged(AppRunner::Status status);
  // The run's screen, spy list and spy mode are gone (under mutex_).
  void forgetRun();
  void stepsReplaced();  // under mutex_: any change but steps added at the end
  void deviceAnswered(bool answers);  // under mutex_
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
  std::uint64_t listVersion_ = 1;  // one more at every change but steps added at the end
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
  // The screen in points: the platform's default until the device says otherwise.
  double screenWidth_ = 390, screenHeight_ = 844;
  bool screenSized_ = false;  // for this run
  bool deviceAnswers_ = false;
  std::uint64_t answeredRun_ = 0;  // the application run the device input last answered in

  // The application run by the studio, and what the state shows of it.
  const bool managed_;
  std::string appCommandText_;
  AppRunner::Status appStatus_;
  std::uint64_t run_ = 0;  // the run the screen, spy list and recorder session are of
  std::chrono::steady_clock::time_point lastWatched_{};

  bool replaying_ = false;
  std::vector<qvctl::StepResult> replayResults_;
  std::string replaySummary_;
  std::thread replayThread_;

  std::mutex deviceMutex_;
  std::optional<qvctl::DeviceInput> device_;
  // The device input's connections are of an application that has gone: the next
  // command connects again instead of failing on them.
  std::atomic<bool> deviceStale_{false};

  std::thread recorderThread_, screenThread_;
  std::unique_ptr<AppRunner> app_;  // last: it calls back into the members above
};

}  // namespace studio
