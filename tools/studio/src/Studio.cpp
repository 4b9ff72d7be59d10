#include "Studio.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "qvctl/Connection.h"
#include "qvctl/Recording.h"

namespace studio {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// The agent shows "Switched to Spy Mode" / "Switched to Recording Mode" over the
// whole screen for five seconds after a mode switch, and it takes every touch
// meanwhile. Without a screen change to show it went, it is taken as gone after
// the limit.
constexpr auto kNoticeShown = std::chrono::seconds(5);
constexpr auto kNoticeLimit = std::chrono::seconds(8);

std::string textOf(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

// What the page lists for one recorded step.
json stepView(const std::string& line) {
  json value = json::parse(line, nullptr, false);
  json view = json::object();
  if (value.is_object()) {  // an assertion line
    const json target = value.value("target", json::object());
    view["action"] = "assert " + textOf(value, "assert");
    view["className"] = textOf(target, "className");
    view["text"] = textOf(target, "elementText");
    view["xpath"] = textOf(target, "xpath:position");
    view["mode"] = textOf(target, "mode");
    view["expected"] = textOf(value, "expected");
    return view;
  }
  if (!value.is_array() || value.empty() || !value[0].is_object()) return view;
  const json& step = value[0];
  view["action"] = textOf(step, "action");
  const json arguments = step.value("arguments", json::array());
  if (arguments.size() == 2 && arguments[0].is_object() && arguments[1].is_object()) {
    const json& element = arguments[0];
    view["className"] = textOf(element, "className");
    view["text"] = textOf(element, "elementText");
    view["xpath"] = textOf(element, "xpath:position");
    view["mode"] = textOf(element, "mode");
    view["image"] = textOf(element, "ObjectImage");
    view["data"] = textOf(arguments[1], "data");
  }
  return view;
}

// A spy record as the page lists it.
json spyView(const json& record) {
  return {{"className", textOf(record, "class").empty() ? textOf(record, "tagName") : textOf(record, "class")},
          {"text", textOf(record, "elementText")},
          {"id", textOf(record, "id")},
          {"logicalname", textOf(record, "logicalname")},
          {"xpath", textOf(record, "xpath:position")},
          {"mode", textOf(record, "mode")},
          {"width", textOf(record, "width")},
          {"height", textOf(record, "height")}};
}

bool isSpyList(const json& value) {
  if (!value.is_array() || value.empty()) return false;
  for (const auto& entry : value) {
    if (!entry.is_object() || entry.contains("action")) return false;
  }
  return true;
}

bool isStep(const json& value) {
  return value.is_array() && value.size() == 1 && value[0].is_object() && value[0].contains("action");
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

Studio::Studio(StudioOptions options)
    : options_(std::move(options)),
      device_(options_.agentHost, options_.devicePort, std::chrono::seconds(10)) {
  recorderThread_ = std::thread([this] { recorderLoop(); });
  screenThread_ = std::thread([this] { screenLoop(); });
}

Studio::~Studio() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  recorderThread_.join();
  screenThread_.join();
  if (replayThread_.joinable()) replayThread_.join();
}

void Studio::noticeShown(const std::string& text) {
  notice_ = text;
  noticeSince_ = Clock::now();
}

bool Studio::noticeGone(bool screenChanged) {
  if (notice_.empty()) return false;
  const auto shownFor = Clock::now() - noticeSince_;
  if (shownFor < kNoticeLimit && !(screenChanged && shownFor >= kNoticeShown)) return false;
  notice_.clear();
  return true;
}

void Studio::changed() {
  ++version_;
  changed_.notify_all();
}

bool Studio::sleepFor(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, d, [this] { return stopping_; });
  return !stopping_;
}

void Studio::setRecorderStatus(const std::string& status) {
  std::lock_guard lock(mutex_);
  if (recorderStatus_ == status) return;
  recorderStatus_ = status;
  changed();
}

void Studio::recorderLoop() {
  while (sleepFor(std::chrono::milliseconds(0))) {
    try {
      qvctl::Connection connection(options_.agentHost, options_.recorderPort, std::chrono::seconds(2));
      {
        std::lock_guard lock(sendMutex_);
        recorderFd_ = connection.fd();
      }
      setRecorderStatus("recording");
      bool open = true;
      while (open && sleepFor(std::chrono::milliseconds(0))) {
        pollfd p{connection.fd(), POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        open = connection.readAvailable();
        while (auto payload = connection.nextBufferedFrame()) handleFrame(*payload);
      }
      {
        std::lock_guard lock(sendMutex_);
        recorderFd_ = -1;
      }
      setRecorderStatus("ended");
    } catch (const qvctl::Error&) {
      std::lock_guard lock(sendMutex_);
      recorderFd_ = -1;
      std::lock_guard state(mutex_);
      // An ended session stays "ended" until a new application run accepts us.
      if (recorderStatus_ != "ended" && recorderStatus_ != "waiting") {
        recorderStatus_ = "waiting";
        changed();
      }
    }
    if (!sleepFor(std::chrono::seconds(1))) return;
  }
}

void Studio::handleFrame(const std::string& payload) {
  if (payload.starts_with(qvctl::kRecorderGreetingPrefix)) return;
  json value = json::parse(payload, nullptr, false);
  if (value.is_discarded()) return;
  std::lock_guard lock(mutex_);
  if (isStep(value)) {
    if (auto line = qvctl::recordingLine(payload)) addLine(std::move(*line));
  } else if (isSpyList(value)) {
    spyList_ = value;
    ++spyVersion_;
  } else {
    return;
  }
  changed();
}

void Studio::screenLoop() {
  // The device writes the screen image into a folder that only this user can enter,
  // named by chance, so that nobody else can read, swap or pre-empt the file.
  std::string folder = (std::filesystem::temp_directory_path() / "qvstudio-XXXXXX").string();
  if (!::mkdtemp(folder.data())) {
    std::fprintf(stderr, "qvstudio: no private folder for the screen image (%s); the screen stays blank\n",
                 std::strerror(errno));
    return;
  }
  const auto path = std::filesystem::path(folder) / "screen.png";
  qvctl::DeviceInput screen(options_.agentHost, options_.devicePort, std::chrono::seconds(10));
  while (sleepFor(options_.screenInterval)) {
    {
      std::lock_guard lock(mutex_);
      if (noticeGone(false)) changed();
      // Looked at only while a page is watching (and once at the start).
      if (screenVersion_ > 0 && Clock::now() - lastWatched_ > std::chrono::seconds(5)) continue;
    }
    try {
      if (screenWidth_ == 0) {
        auto tree = screen.askLines("tree", "end");
        double x, y, w, h;
        if (tree.size() > 1 && std::sscanf(tree[1].c_str(), "%*s {{%lf, %lf}, {%lf, %lf}}", &x, &y, &w, &h) == 4) {
          std::lock_guard lock(mutex_);
          screenWidth_ = w;
          screenHeight_ = h;
        }
      }
      if (!screen.ask("screenshot " + path.string()).starts_with("ok")) continue;
      std::string png = readFile(path);
      std::lock_guard lock(mutex_);
      if (!png.empty() && png != screen_) {
        screen_ = std::move(png);
        ++screenVersion_;
        noticeGone(true);
        changed();
      }
    } catch (const qvctl::Error&) {
      // No device yet: tried again at the next interval.
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

json Studio::state(std::uint64_t since, std::size_t fromStep, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  lastWatched_ = Clock::now();
  changed_.wait_for(lock, wait, [&] { return stopping_ || version_ > since; });
  lastWatched_ = Clock::now();
  json steps = json::array();
  for (std::size_t i = fromStep; i < lines_.size(); ++i) {
    json view = stepView(lines_[i].text);
    view["index"] = i;
    view["receivedMs"] = lines_[i].receivedMs;
    steps.push_back(std::move(view));
  }
  json spy = json::array();
  for (const auto& record : spyList_) spy.push_back(spyView(record));
  json results = json::array();
  for (const auto& r : replayResults_) {
    results.push_back({{"index", r.step.line - 1}, {"passed", r.passed}, {"message", r.message},
                       {"ms", r.time.count()}});
  }
  return {{"version", version_},
          {"recorder", recorderStatus_},
          {"spyMode", spyMode_},
          {"notice", notice_},
          {"screen", {{"version", screenVersion_}, {"width", screenWidth_}, {"height", screenHeight_}}},
          {"stepCount", lines_.size()},
          {"steps", steps},
          {"spy", {{"version", spyVersion_}, {"records", spy}}},
          {"replay", {{"running", replaying_}, {"results", results}, {"summary", replaySummary_}}}};
}

std::optional<std::string> Studio::screenPNG() {
  std::lock_guard lock(mutex_);
  lastWatched_ = Clock::now();
  if (screen_.empty()) return std::nullopt;
  return screen_;
}

std::string Studio::device(const std::string& line) {
  std::string answer;
  try {
    std::lock_guard lock(deviceMutex_);
    answer = device_.ask(line);
  } catch (const qvctl::Error& e) {
    throw Failure(FailureKind::unavailable, e.what());
  }
  if (!answer.starts_with("ok")) throw Failure(FailureKind::deviceError, "the device answered: " + answer);
  return answer;
}

void Studio::sendRecorderCommand(const std::string& command) {
  {
    std::lock_guard lock(sendMutex_);
    if (recorderFd_ < 0) {
      throw Failure(FailureKind::conflict,
                    "no recording session is open (replaying ends it; a new application run records again)");
    }
    const std::string bytes = command + "\r\n";
    if (::send(recorderFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
      throw Failure(FailureKind::unavailable, "the recorder connection did not take the command");
    }
  }
  std::lock_guard lock(mutex_);
  if (command == "startobjectspy") {
    spyMode_ = true;
    noticeShown("Switched to Spy Mode");
  } else if (command == "stopobjectspy") {
    spyMode_ = false;
    noticeShown("Switched to Recording Mode");
  }
  changed();
}

void Studio::addAssertion(std::size_t index, const std::string& kind) {
  std::lock_guard lock(mutex_);
  if (index >= spyList_.size()) throw Failure(FailureKind::invalidArgument, "no spied element at that position");
  const json& record = spyList_[index];
  qvctl::StepTarget target;
  target.className = textOf(record, "class").empty() ? textOf(record, "tagName") : textOf(record, "class");
  if (record.contains("xpath:position")) target.xpath = textOf(record, "xpath:position");
  if (record.contains("elementText")) target.text = textOf(record, "elementText");
  target.mode = textOf(record, "mode").empty() ? "native" : textOf(record, "mode");
  if (!target.xpath && target.text.value_or("").empty()) {
    throw Failure(FailureKind::invalidArgument, "the element has neither a position xpath nor a text to find it by");
  }
  try {
    addLine(qvctl::assertionLine(kind, target, target.text.value_or("")));
  } catch (const qvctl::Error& e) {
    throw Failure(FailureKind::invalidArgument, e.what());
  }
  changed();
}

void Studio::highlight(std::size_t index) {
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    count = spyList_.size();
  }
  if (index >= count) throw Failure(FailureKind::invalidArgument, "no spied element at that position");
  // The agent counts back from the last stored view, the topmost ancestor.
  sendRecorderCommand("highlight=" + std::to_string(count - 1 - index));
}

void Studio::addLine(std::string text) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  lines_.push_back({std::move(text), std::chrono::duration_cast<std::chrono::milliseconds>(now).count()});
}

std::string Studio::text() const {
  std::string text;
  for (const auto& line : lines_) text += line.text + "\n";
  return text;
}

std::string Studio::recordingText() {
  std::lock_guard lock(mutex_);
  return text();
}

void Studio::clearSteps() {
  std::lock_guard lock(mutex_);
  if (replaying_) throw Failure(FailureKind::conflict, "a replay is running");
  lines_.clear();
  replayResults_.clear();
  replaySummary_.clear();
  changed();
}

void Studio::startReplay() {
  qvctl::Recording recording;
  {
    std::lock_guard lock(mutex_);
    if (replaying_) throw Failure(FailureKind::conflict, "a replay is running");
    if (lines_.empty()) throw Failure(FailureKind::invalidArgument, "there is no step to replay");
    try {
      recording = qvctl::parseRecording(text(), "studio");
    } catch (const qvctl::RecordingError& e) {
      throw Failure(FailureKind::invalidArgument, e.what());
    }
    replaying_ = true;
    replayResults_.clear();
    replaySummary_ = "replaying";
    changed();
  }
  if (replayThread_.joinable()) replayThread_.join();
  replayThread_ = std::thread([this, recording = std::move(recording)] {
    std::size_t passed = 0;
    std::string failure;
    {
      // Taps would land on the device's notice instead of the recorded elements.
      std::unique_lock lock(mutex_);
      if (!notice_.empty()) {
        replaySummary_ = "waiting for the device's notice to go";
        changed();
      }
      changed_.wait(lock, [this] { return stopping_ || notice_.empty(); });
      if (replaySummary_ != "replaying") {
        replaySummary_ = "replaying";
        changed();
      }
    }
    try {
      qvctl::PlaybackSession session(options_.agentHost, options_.playbackPort, options_.replayTimeout);
      session.open();
      qvctl::ReplayOptions replayOptions;
      replayOptions.onStep = [&](const qvctl::StepResult& result) {
        std::lock_guard lock(mutex_);
        replayResults_.push_back(result);
        passed += result.passed ? 1 : 0;
        changed();
      };
      qvctl::replay(recording, [&](const qvctl::Request& r) { return session.play(r); }, replayOptions);
    } catch (const qvctl::Error& e) {
      failure = e.what();
    }
    std::lock_guard lock(mutex_);
    replaying_ = false;
    replaySummary_ = failure.empty() ? std::to_string(passed) + " of " + std::to_string(recording.steps.size()) +
                                           " steps passed"
                                     : failure;
    changed();
  });
}

}  // namespace studio
