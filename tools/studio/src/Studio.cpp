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
      managed_(!options_.appCommand.empty()) {
  device_.emplace(options_.agentHost, options_.devicePort, std::chrono::seconds(10));
  if (managed_) {
    app_ = std::make_unique<AppRunner>(options_.appCommand, options_.appEnvironment,
                                       [this](AppRunner::Status status) { applicationChanged(std::move(status)); });
    appCommandText_ = app_->commandText();
  }
  recorderThread_ = std::thread([this] { recorderLoop(); });
  screenThread_ = std::thread([this] { screenLoop(); });
  if (app_) app_->restart();
}

Studio::~Studio() {
  app_.reset();  // the application ends with the studio
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

void Studio::forgetRun() {
  if (!spyList_.empty()) {
    spyList_ = json::array();
    ++spyVersion_;
  }
  spyMode_ = false;
  notice_.clear();
}

void Studio::deviceAnswered(bool answers) {
  if (answers == deviceAnswers_ && (!answers || answeredRun_ == run_)) return;
  deviceAnswers_ = answers;
  if (answers) {
    answeredRun_ = run_;
  } else {
    forgetRun();  // whatever was spied belongs to an application that is gone
    deviceStale_ = true;
  }
  changed();
}

void Studio::applicationChanged(AppRunner::Status status) {
  std::lock_guard lock(mutex_);
  if (status.run != run_) {  // a new run: nothing of the old one is shown as its own
    run_ = status.run;
    forgetRun();
    screen_.clear();
    ++screenVersion_;
    screenSized_ = false;
    deviceAnswers_ = false;
    deviceStale_ = true;
    recorderStatus_ = "waiting";
  }
  if (!status.alive) {
    forgetRun();
    deviceAnswers_ = false;
    deviceStale_ = true;
  }
  appStatus_ = std::move(status);
  changed();
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
      std::uint64_t run;
      {
        std::lock_guard lock(sendMutex_);
        recorderFd_ = connection.fd();
        std::lock_guard state(mutex_);
        run = run_;
        // A recorder session is a run's own: one started by hand since has no spy list yet.
        forgetRun();
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
      // The session of a run the studio has since replaced is not the one that ended.
      bool sameRun;
      {
        std::lock_guard lock(mutex_);
        sameRun = run == run_;
      }
      setRecorderStatus(sameRun ? "ended" : "waiting");
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
  std::optional<qvctl::DeviceInput> screen;
  std::uint64_t screenRun = 0;
  bool looked = false;
  while (sleepFor(options_.screenInterval)) {
    std::uint64_t run;
    bool sized;
    {
      std::lock_guard lock(mutex_);
      if (noticeGone(false)) changed();
      // Looked at only while a page is watching (and once at the start), and not
      // while the studio's application is down.
      if (looked && Clock::now() - lastWatched_ > std::chrono::seconds(5)) continue;
      if (managed_ && !appStatus_.alive) continue;
      run = run_;
      sized = screenSized_;
    }
    looked = true;
    if (!screen || run != screenRun) {  // a connection to a new run
      screen.emplace(options_.agentHost, options_.devicePort, std::chrono::seconds(10));
      screenRun = run;
    }
    try {
      if (!sized) {
        auto tree = screen->askLines("tree", "end");
        double x, y, w, h;
        if (tree.size() > 1 && std::sscanf(tree[1].c_str(), "%*s {{%lf, %lf}, {%lf, %lf}}", &x, &y, &w, &h) == 4 &&
            w > 0 && h > 0) {
          std::lock_guard lock(mutex_);
          screenWidth_ = w;
          screenHeight_ = h;
          screenSized_ = run == run_;
          changed();
        }
      }
      const bool shot = screen->ask("screenshot " + path.string()).starts_with("ok");
      std::string png = shot ? readFile(path) : "";
      std::lock_guard lock(mutex_);
      if (run != run_) continue;  // a screen of the run before
      deviceAnswered(true);
      if (!png.empty() && png != screen_) {
        screen_ = std::move(png);
        ++screenVersion_;
        noticeGone(true);
        changed();
      }
    } catch (const qvctl::Error&) {
      std::lock_guard lock(mutex_);
      if (run == run_) deviceAnswered(false);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

json Studio::state(std::uint64_t since, std::size_t fromStep, std::uint64_t list, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  lastWatched_ = Clock::now();
  changed_.wait_for(lock, wait, [&] { return stopping_ || version_ > since; });
  lastWatched_ = Clock::now();
  if (list != 0 && list != listVersion_) fromStep = 0;  // the page's list is out of date: all of it
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
    results.push_back({{"index", r.number - 1}, {"passed", r.passed}, {"message", r.message},
                       {"ms", r.time.count()}});
  }
  const std::string device = options_.agentHost + ":" + std::to_string(options_.devicePort);
  json app = {{"managed", managed_}};
  if (managed_) {
    app["command"] = appCommandText_;
    // "silent": the device input answered in this run, and answers no more.
    app["state"] = !appStatus_.alive                          ? (appStatus_.run == 0 ? "starting" : "exited")
                   : answeredRun_ != run_                     ? "starting"
                   : deviceAnswers_                           ? "running"
                                                              : "silent";
    app["exit"] = appStatus_.exit;
    app["log"] = appStatus_.lastLines;
    app["pid"] = appStatus_.pid;
  } else {
    app["state"] = deviceAnswers_ ? "running" : "none";
  }
  const bool live = deviceAnswers_ && (!managed_ || appStatus_.alive);
  return {{"version", version_},
          {"recorder", recorderStatus_},
          {"spyMode", spyMode_},
          {"notice", notice_},
          {"app", app},
          {"device", {{"address", device}, {"answers", deviceAnswers_}}},
          {"screen",
           {{"version", screenVersion_},
            {"available", !screen_.empty()},
            {"live", live},
            {"width", screenWidth_},
            {"height", screenHeight_}}},
          {"list", listVersion_},
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
    if (deviceStale_.exchange(false)) device_.emplace(options_.agentHost, options_.devicePort, std::chrono::seconds(10));
    answer = device_->ask(line);
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
      std::lock_guard state(mutex_);
      throw Failure(FailureKind::conflict,
                    recorderStatus_ == "ended"
                        ? std::string("the recording session has ended (a replay ends it): a new run of the "
                                      "application records again")
                        : "no application's recorder answers on " + options_.agentHost + ":" +
                              std::to_string(options_.recorderPort));
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
  if (kind == "text" && target.text.value_or("").empty()) {
    // A check of "" would pass on any element without a text.
    throw Failure(FailureKind::invalidArgument, "the element shows no text to check");
  }
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

void Studio::stepsReplaced() {
  ++listVersion_;
  replayResults_.clear();
  replaySummary_.clear();
  changed();
}

std::string Studio::exportedTest(qvctl::ExportLanguage language) {
  std::string recordingText;
  {
    std::lock_guard lock(mutex_);
    if (lines_.empty()) throw Failure(FailureKind::invalidArgument, "there is no step to export");
    recordingText = text();
  }
  return qvctl::exportTest(qvctl::parseRecording(recordingText, "recording"), language);
}

void Studio::clearSteps() {
  std::lock_guard lock(mutex_);
  if (replaying_) throw Failure(FailureKind::conflict, "a replay is running");
  lines_.clear();
  stepsReplaced();
}

void Studio::openRecording(const std::string& text, const std::string& name) {
  const qvctl::Recording recording = qvctl::parseRecording(text, name);
  if (recording.steps.empty()) throw Failure(FailureKind::invalidArgument, name + " holds no step");
  std::lock_guard lock(mutex_);
  if (replaying_) throw Failure(FailureKind::conflict, "a replay is running");
  lines_.clear();
  for (const auto& step : recording.steps) addLine(step.source);
  stepsReplaced();
}

void Studio::editStep(std::size_t index, const std::string& edit, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (replaying_) throw Failure(FailureKind::conflict, "a replay is running: edits wait for its end");
  if (index >= lines_.size()) throw Failure(FailureKind::invalidArgument, "there is no such step");
  if (edit == "delete") {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  } else if (edit == "up" || edit == "down") {
    const bool up = edit == "up";
    if (up ? index == 0 : index + 1 == lines_.size()) {
      throw Failure(FailureKind::invalidArgument, up ? "the first step cannot move up" : "the last step cannot move down");
    }
    std::swap(lines_[index], lines_[up ? index - 1 : index + 1]);
  } else if (edit == "text") {
    // Keys keep their recorded order.
    auto step = nlohmann::ordered_json::parse(lines_[index].text, nullptr, false);
    if (!step.is_array() || step.size() != 1 || !step[0].is_object() ||
        step[0].value("action", "") != qvctl::kTypeAction || !step[0].contains("arguments") ||
        !step[0]["arguments"].is_array() || step[0]["arguments"].size() != 2 || !step[0]["arguments"][1].is_object()) {
      throw Failure(FailureKind::invalidArgument, "only the text of a typing step can be edited");
    }
    step[0]["arguments"][1]["data"] = text;
    lines_[index].text = step.dump(-1, ' ', false, json::error_handler_t::replace);
  } else {
    throw Failure(FailureKind::invalidArgument, "edits are \"delete\", \"up\", \"down\" and \"text\"");
  }
  stepsReplaced();
}

void Studio::restartApplication(bool newRecording) {
  if (!app_) {
    throw Failure(FailureKind::conflict,
                  "the studio runs no application (qvstudio --app COMMAND does): start it again yourself");
  }
  {
    std::lock_guard lock(mutex_);
    if (replaying_) throw Failure(FailureKind::conflict, "a replay is running");
    forgetRun();
    if (newRecording) {
      lines_.clear();
      stepsReplaced();
    }
    changed();
  }
  app_->restart();
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
