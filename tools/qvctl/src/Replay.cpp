#include "qvctl/Replay.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "qvctl/AiExport.h"

namespace qvctl {

namespace {

using nlohmann::json;

constexpr const char* kClickActions[] = {"Click", "ClickButton", "ClickImage"};

bool isKnownAction(const std::string& action) {
  return isClickAction(action) || action == kTypeAction || action == kSelectSwitch || action == kDeselectSwitch;
}

// Why a line of a recording is not a step.
struct BadLine {
  std::string reason;
};

// A key's text, absent when the key is missing; throws a reason when it is not a text.
std::optional<std::string> textMember(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (!it->is_string()) throw BadLine{std::string("\"") + key + "\" is not a text"};
  return it->get<std::string>();
}

std::string requiredText(const json& object, const char* key) {
  auto value = textMember(object, key);
  if (!value) throw BadLine{std::string("missing key \"") + key + "\""};
  return *value;
}

// A list of element descriptions sent in spy mode: objects without "action".
bool isSpyList(const json& value) {
  if (value.empty() || !value[0].is_object() || !value[0].contains("tagName")) return false;
  for (const auto& entry : value) {
    if (!entry.is_object() || entry.contains("action")) return false;
  }
  return true;
}

bool isKnownAssertion(const std::string& kind) { return kind == "text" || kind == "visible" || kind == "enabled"; }

// The target described by a step's element or an assertion's "target".
StepTarget targetOf(const json& element) {
  StepTarget target;
  target.className = requiredText(element, "className");
  target.xpath = textMember(element, "xpath:position");
  target.text = textMember(element, "elementText");
  target.mode = textMember(element, "mode").value_or("native");
  if (auto index = textMember(element, "index")) {
    char* end = nullptr;
    long value = std::strtol(index->c_str(), &end, 10);
    if (!index->empty() && *end == '\0' && value >= 0) target.index = static_cast<int>(value);
  }
  if (!target.xpath && target.text.value_or("").empty()) {
    throw BadLine{"missing key \"xpath:position\" (and no \"elementText\" to find the element by)"};
  }
  return target;
}

RecordedStep assertionOf(const json& object) {
  RecordedStep step;
  step.assertion = requiredText(object, "assert");
  if (!isKnownAssertion(step.assertion)) throw BadLine{"unknown assertion \"" + step.assertion + "\""};
  auto target = object.find("target");
  if (target == object.end()) throw BadLine{"missing key \"target\""};
  if (!target->is_object()) throw BadLine{"\"target\" is not an object"};
  step.target = targetOf(*target);
  if (step.assertion == "text") step.expected = requiredText(object, "expected");
  return step;
}

// The step of one line; throws BadLine when it is not one. Absent for lines that
// hold no step.
std::optional<RecordedStep> stepOfLine(const std::string& line) {
  json value = json::parse(line, nullptr, false);
  if (value.is_discarded()) throw BadLine{"not JSON"};
  if (value.is_object()) {
    if (!value.contains("assert")) {
      throw BadLine{"an object is no recorded step (a step is a list holding one object; an assertion has "
                    "\"assert\")"};
    }
    return assertionOf(value);
  }
  if (!value.is_array()) throw BadLine{"a recorded step is a JSON list holding one object"};
  if (isSpyList(value)) return std::nullopt;
  if (value.size() != 1 || !value[0].is_object()) {
    throw BadLine{"a recorded step is a JSON list holding one object"};
  }
  const json& object = value[0];
  RecordedStep step;
  step.action = requiredText(object, "action");
  if (!isKnownAction(step.action)) throw BadLine{"unknown action \"" + step.action + "\""};
  auto arguments = object.find("arguments");
  if (arguments == object.end()) throw BadLine{"missing key \"arguments\""};
  if (!arguments->is_array() || arguments->size() != 2 || !(*arguments)[0].is_object() ||
      !(*arguments)[1].is_object()) {
    throw BadLine{"\"arguments\" must hold two objects (the element, then the data)"};
  }
  step.target = targetOf((*arguments)[0]);
  if (step.action == kTypeAction) {
    step.data = requiredText((*arguments)[1], "data");
  }
  return step;
}

json parsedReply(const std::string& reply) {
  json value = json::parse(reply, nullptr, false);
  if (value.is_discarded()) throw Error("the agent's reply is not JSON: " + reply.substr(0, 200));
  if (value.is_array() && value.size() == 1 && value[0].is_object() && value[0].contains("exceptionmsg")) {
    const json& reason = value[0]["exceptionmsg"];
    throw Error("the agent answered: " + (reason.is_string() ? reason.get<std::string>() : reason.dump()));
  }
  return value;
}

std::vector<std::string> elementIDs(const json& reply) {
  std::vector<std::string> ids;
  if (!reply.is_array()) return ids;
  for (const auto& entry : reply) {
    if (entry.is_object() && entry.contains("elementID") && entry["elementID"].is_string()) {
      ids.push_back(entry["elementID"].get<std::string>());
    }
  }
  return ids;
}

// The "output" of a query's reply; absent when the reply has none.
std::optional<std::string> output(const json& reply) {
  if (reply.is_array() && reply.size() == 1 && reply[0].is_object() && reply[0].contains("output") &&
      reply[0]["output"].is_string()) {
    return reply[0]["output"].get<std::string>();
  }
  return std::nullopt;
}

Request elementRequest(const char* function, const std::string& id) {
  Request r;
  r.functionname = function;
  r.accessorvalue = id;
  return r;
}

std::string inQuotes(const std::string& text) { return json(text).dump(); }

std::string describeTarget(const StepTarget& target) {
  std::string text = target.className;
  if (target.text && !target.text->empty()) text += " " + inQuotes(*target.text);
  if (target.xpath) text += " at xpath " + *target.xpath;
  if (target.mode == "web") text += " (web page)";
  return text;
}

// What the screen shows of one class (every class when `className` is empty):
// each element's class, text and rectangle, from "ai_findelements".
json layoutOf(const json& aiList) {
  json layout = json::array();
  if (!aiList.is_array()) return layout;
  for (const auto& entry : aiList) {
    if (!entry.is_object()) continue;
    layout.push_back({entry.value("elementType", ""), entry.value("text", ""),
                      entry.value("rectangle", json::object())});
  }
  return layout;
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Plays one step; the result's reply is the agent's last reply.
class StepPlayer {
 public:
  StepPlayer(const RecordedStep& step, const PlaybackSender& send, const ReplayOptions& options,
             StepResult& result)
      : step_(step), send_(send), options_(options), result_(result),
        deadline_(Clock::now() + options.timeout) {}

  void play() {
    if (!step_.assertion.empty()) {
      check();
      return;
    }
    const std::string id = settled();
    if (isClickAction(step_.action)) {
      ask(elementRequest("clickelement", id));
      result_.message = "clicked";
    } else if (step_.action == kTypeAction) {
      Request r = elementRequest("sendkeysonelement", id);
      r.datavalue = step_.data;
      ask(r);
      result_.message = "typed " + inQuotes(step_.data);
    } else {
      setSwitch(id);
    }
  }

 private:
  json ask(const Request& request) {
    result_.reply = send_(request);
    return parsedReply(result_.reply);
  }

  json askQuietly(const Request& request) { return parsedReply(send_(request)); }

  std::vector<std::string> find(const char* accessorType, const std::string& value) {
    Request r;
    r.functionname = "findelements";
    r.tagname = step_.target.className;
    r.accessortype = accessorType;
    r.accessorvalue = value;
    return elementIDs(ask(r));
  }

  // A button is named by its title: found at its xpath with another title, it is
  // not the recorded button.
  bool stillNamed(const std::string& id) {
    if (step_.action != kClickButton || step_.target.text.value_or("").empty()) return true;
    return output(ask(elementRequest("gettext", id))) == step_.target.text;
  }

  std::optional<std::string> locate() {
    if (step_.target.xpath) {
      auto ids = find("xpath", *step_.target.xpath);
      if (!ids.empty() && stillNamed(ids.front())) return ids.front();
    }
    if (step_.target.text && !step_.target.text->empty()) {
      auto ids = find("text", *step_.target.text);
      if (!ids.empty()) return ids.front();
    }
    return std::nullopt;
  }

  json layout(const std::string& className) {
    Request r;
    r.functionname = "ai_findelements";
    r.tagname = className;
    return layoutOf(askQuietly(r));
  }

  bool pause() {
    if (Clock::now() >= deadline_) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(options_.pollInterval, deadline_ - Clock::now()));
    return true;
  }

  // The element's ID once it is found and its class's frames and texts stayed the
  // same across two polls (page elements: once found). Fails at the deadline with
  // what the screen held instead.
  std::string settled() {
    std::optional<json> previous;
    for (;;) {
      if (auto id = locate()) {
        found_ = true;
        if (step_.target.mode == "web") return *id;
        // The layout query ends the ID's life: found again once settled.
        json now = layout(step_.target.className);
        if (previous && *previous == now) {
          if (auto again = locate()) return *again;
        }
        previous = std::move(now);
      } else {
        found_ = false;
        previous.reset();
        scrollFurther();
      }
      if (!pause()) {
        if (found_) {
          throw Error("element found, but its screen was still changing after " + seconds() + ": " +
                      describeTarget(step_.target) + "; " + screenHeld());
        }
        throw Error("element not found within " + seconds() + scrolledSoFar() + ": " +
                    describeTarget(step_.target) + "; " + screenHeld());
      }
    }
  }

  // An element not on the screen may be in a scroll view: the screen is swiped a
  // page at a time as a person would, first towards the content below until the
  // screen stops changing, then back towards the content above, then no more.
  void scrollFurther() {
    if (step_.target.mode == "web" || scrollPass_ > 1) return;
    bool scrollable = false;
    for (const char* className : {"UIScrollView", "UITableView", "UICollectionView"}) {
      Request find;
      find.functionname = "findelements";
      find.tagname = className;
      find.accessortype = "";
      find.accessorvalue = "";
      if ((scrollable = !elementIDs(askQuietly(find)).empty())) break;
    }
    if (!scrollable) return;
    const json before = layout("");
    Request r;
    r.functionname = "swipeon";
    r.accessorvalue = "";  // the screen
    r.datavalue = scrollPass_ == 0 ? "up" : "down";
    askQuietly(r);
    ++scrolls_;
    if (layout("") == before) ++scrollPass_;  // that end is reached
  }

  std::string scrolledSoFar() const {
    if (scrolls_ == 0) return "";
    return " (the screen was scrolled " + std::to_string(scrolls_) + " time" + (scrolls_ == 1 ? "" : "s") +
           " looking for it)";
  }

  std::string seconds() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(options_.timeout).count());
    return text;
  }

  // The elements of the target's class nearest its recorded index (or, with none
  // of that class, the first elements with a text), as the screen holds them now.
  std::string screenHeld() {
    json all;
    try {
      Request r;
      r.functionname = "ai_findelements";
      r.tagname = "";
      all = layoutOf(askQuietly(r));
    } catch (const Error& e) {
      return std::string("the screen could not be read: ") + e.what();
    }
    const std::string wanted = lowered(step_.target.className);
    std::vector<std::pair<int, const json*>> near;
    int position = 0;
    for (const auto& entry : all) {
      if (lowered(entry[0].get<std::string>()) != wanted) continue;
      near.emplace_back(std::abs(position - step_.target.index.value_or(0)), &entry);
      ++position;
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string intro = "the screen held";
    if (near.empty()) {
      intro = "no " + step_.target.className + " on the screen, which held";
      for (const auto& entry : all) {
        if (!entry[1].get<std::string>().empty()) near.emplace_back(0, &entry);
      }
    }
    if (near.empty()) return "the screen held no element with a text";
    std::string text = intro;
    std::size_t shown = 0;
    for (const auto& [distance, entry] : near) {
      if (shown == 5) break;
      const json& box = (*entry)[2];
      text += std::string(shown++ ? "," : "") + " " + (*entry)[0].get<std::string>() + " " +
              inQuotes((*entry)[1].get<std::string>()) + " at (" + box.value("x", "?") + ", " + box.value("y", "?") +
              ") " + box.value("width", "?") + "x" + box.value("height", "?");
    }
    return text;
  }

  // The recorded action names the switch's state after the tap: click only when
  // the switch shows the other state (or cannot say which it shows).
  void setSwitch(const std::string& id) {
    const bool wanted = step_.action == kSelectSwitch;
    auto state = output(ask(elementRequest("isselected", id)));
    if (state && (*state == "true") == wanted) {
      result_.message = std::string("already ") + (wanted ? "on" : "off");
      return;
    }
    ask(elementRequest("clickelement", id));
    result_.message = std::string("switched ") + (wanted ? "on" : "off");
  }

  // An assertion holds once the element shows what is expected; until the deadline
  // it is asked again.
  void check() {
    const char* query = step_.assertion == "text" ? "gettext" : step_.assertion == "visible" ? "isdisplayed"
                                                                                             : "isenabled";
    const std::string expected = step_.assertion == "text" ? step_.expected : "true";
    std::string actual;
    for (;;) {
      if (auto id = locate()) {
        actual = output(ask(elementRequest(query, *id))).value_or("(no answer)");
        if (actual == expected) {
          result_.message = step_.assertion == "text" ? "reads " + inQuotes(actual) : "is " + step_.assertion;
          return;
        }
      } else {
        actual.clear();
      }
      if (!pause()) break;
    }
    if (actual.empty()) {
      throw Error("element not found within " + seconds() + ": " + describeTarget(step_.target) + "; " +
                  screenHeld());
    }
    if (step_.assertion == "text") {
      throw Error("assert text failed: " + describeTarget(step_.target) + " reads " + inQuotes(actual) +
                  ", expected " + inQuotes(expected));
    }
    throw Error("assert " + step_.assertion + " failed: " + describeTarget(step_.target) + " is not " +
                step_.assertion);
  }

  const RecordedStep& step_;
  const PlaybackSender& send_;
  const ReplayOptions& options_;
  StepResult& result_;
  Clock::time_point deadline_;
  bool found_ = false;  // the latest look found the element
  int scrollPass_ = 0;  // 0 towards the content below, 1 back up, 2 done
  int scrolls_ = 0;
};

// The screen at a failed step, as "NAME-stepN.jpg" in `dir`; a screen that cannot
// be had is said in the step's message.
void saveSnapshot(const std::string& name, const PlaybackSender& send, const std::string& dir, StepResult& result) {
  try {
    Request r;
    r.functionname = "ai_getscreensnapshot";
    const std::string jpeg = snapshotJPEG(send(r));
    const auto path = std::filesystem::path(dir) / (name + "-step" + std::to_string(result.number) + ".jpg");
    std::ofstream out(path, std::ios::binary);
    out.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
    out.close();
    if (!out) throw Error("cannot write " + path.string());
    result.snapshot = path.string();
  } catch (const Error& e) {
    result.message += std::string(" (no screen snapshot: ") + e.what() + ")";
  }
}

}  // namespace

bool isClickAction(std::string_view action) {
  for (const char* a : kClickActions) {
    if (action == a) return true;
  }
  return false;
}

RecordingError::RecordingError(std::vector<std::string> problems)
    : Error([&] {
        std::string text;
        for (const auto& p : problems) text += (text.empty() ? "" : "\n") + p;
        return text;
      }()),
      problems_(std::move(problems)) {}

Recording parseRecording(std::string_view text, const std::string& name) {
  Recording recording;
  recording.name = name;
  std::vector<std::string> problems;
  int number = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      if (auto step = stepOfLine(line)) {
        step->line = number;
        if (line.ends_with('\r')) line.pop_back();
        step->source = std::move(line);
        recording.steps.push_back(std::move(*step));
      }
    } catch (const BadLine& bad) {
      problems.push_back(name + ":" + std::to_string(number) + ": " + bad.reason);
    }
  }
  if (!problems.empty()) throw RecordingError(std::move(problems));
  return recording;
}

Recording readRecording(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  return parseRecording(text.str(), std::filesystem::path(path).stem().string());
}

std::string describeStep(const RecordedStep& step) {
  if (!step.assertion.empty()) {
    std::string text = "assert " + step.assertion + " " + describeTarget(step.target);
    if (step.assertion == "text") text += " reads " + inQuotes(step.expected);
    return text;
  }
  std::string text = step.action + " " + describeTarget(step.target);
  if (step.action == kTypeAction) text += " data " + inQuotes(step.data);
  return text;
}

std::string assertionLine(const std::string& kind, const StepTarget& target, const std::string& expected) {
  if (!isKnownAssertion(kind)) throw Error("unknown assertion \"" + kind + "\"");
  json element = {{"className", target.className}, {"mode", target.mode}};
  if (target.xpath) element["xpath:position"] = *target.xpath;
  if (target.text) element["elementText"] = *target.text;
  if (target.index) element["index"] = std::to_string(*target.index);
  json line = {{"assert", kind}, {"target", element}};
  if (kind == "text") line["expected"] = expected;
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::vector<StepResult> replay(const Recording& recording, const PlaybackSender& send, const ReplayOptions& options) {
  std::vector<StepResult> results;
  for (std::size_t i = 0; i < recording.steps.size(); ++i) {
    StepResult result;
    result.number = static_cast<int>(i) + 1;
    result.step = recording.steps[i];
    const auto started = Clock::now();
    try {
      StepPlayer(result.step, send, options, result).play();
      result.passed = true;
    } catch (const Error& e) {
      result.message = e.what();
      if (!options.snapshotDir.empty()) saveSnapshot(recording.name, send, options.snapshotDir, result);
    }
    result.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    if (options.onStep) options.onStep(result);
    results.push_back(std::move(result));
    if (!results.back().passed && !options.keepGoing) break;
  }
  return results;
}

PlaybackSession::PlaybackSession(std::string host, std::uint16_t port, std::chrono::milliseconds timeout)
    : host_(std::move(host)), port_(port), timeout_(timeout) {}

void PlaybackSession::open() {
  // The playback server listens again a second after its previous client left.
  constexpr std::chrono::milliseconds kRelistenWait{2000};
  if (!connection_) connection_.emplace(host_, port_, timeout_, kRelistenWait);
}

std::string PlaybackSession::play(const Request& request) {
  open();
  try {
    return playRequest(*connection_, buildRequest(request), Clock::now() + timeout_);
  } catch (const Error&) {
    // Never sent twice (a click could happen twice); the next request reconnects.
    connection_.reset();
    throw;
  }
}

std::string resultJson(const std::string& recording, const StepResult& result) {
  json target = {{"className", result.step.target.className}, {"mode", result.step.target.mode}};
  if (result.step.target.xpath) target["xpath:position"] = *result.step.target.xpath;
  if (result.step.target.text) target["elementText"] = *result.step.target.text;
  json line = {{"recording", recording}, {"step", result.number},   {"line", result.step.line},
               {"action", result.step.action}, {"target", target},    {"passed", result.passed},
               {"message", result.message},    {"reply", result.reply}, {"ms", result.time.count()}};
  if (result.step.action == kTypeAction) line["data"] = result.step.data;
  if (!result.step.assertion.empty()) {
    line["assert"] = result.step.assertion;
    if (result.step.assertion == "text") line["expected"] = result.step.expected;
  }
  if (!result.snapshot.empty()) line["snapshot"] = result.snapshot;
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string resultLine(const StepResult& result) {
  std::string text = "step " + std::to_string(result.number) + " (line " + std::to_string(result.step.line) +
                     ") " + describeStep(result.step) + ": " + (result.passed ? "passed" : "FAILED") + " in " +
                     std::to_string(result.time.count()) + " ms";
  if (!result.message.empty()) text += " - " + result.message;
  if (!result.passed && !result.reply.empty()) text += " (last reply " + result.reply.substr(0, 300) + ")";
  if (!result.snapshot.empty()) text += " [screen: " + result.snapshot + "]";
  return text;
}

}  // namespace qvctl
