// The soak: long runs of ordinary use against the sample application with the agent
// in it, checking that every reply and every recorded step is what it should be and
// that the application's memory stays flat.
//
//   1. playback: SOAK_COMMANDS requests (default 100000) over one playback
//      connection: finds of every kind, the element queries, stale and unknown
//      element IDs, malformed requests, the AI export, and now and then
//      (SOAK_ACTIONS times, default 300) a click or typing, whose effect is read
//      back from the screen;
//   2. reconnects: SOAK_CYCLES (default 1000) connections to the playback port in
//      turn, each asked two things and closed (the port listens again about a
//      second after its client left);
//   3. recording, in a second run of the application (the first playback request
//      ends recording for good): SOAK_TAPS taps (default 10000) through the device
//      input, each of whose steps must reach the recorder connection.
//
// Expected answers come from the screen as the device input describes it (texts,
// frames, switch states, the position of each view), never from the agent itself.
// The application's resident memory is printed at the start, after warm-up (the
// first tenth), in the middle and at the end of each phase; after warm-up it must
// not grow by more than 5 %. The exit status is 1 when any check failed.
//
// Uses the agent's fixed ports: run it in a private network namespace (make soak).
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app_process.h"
#include "device_tree_lines.h"
#include "foundation/data.h"
#include "line_client.h"
#include "qvctl/AiExport.h"
#include "qvctl/Connection.h"
#include "uikit/UIImage.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/UIScreen.h"

namespace {

using json = nlohmann::json;
using qvctl::Clock;
using qvtest::TreeView;
using namespace std::chrono_literals;

long setting(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::max(0L, std::atol(value)) : fallback;
}

std::string wholeNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.f", value);
  return text;
}

std::string twoDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

bool isElementID(const json& value) {
  static const std::regex guid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return value.is_string() && std::regex_match(value.get<std::string>(), guid);
}

// Failures of one phase: counted, the first few described.
struct Failures {
  long count = 0;
  std::vector<std::string> examples;

  void add(const std::string& what) {
    ++count;
    if (examples.size() < 10) examples.push_back(what.substr(0, 400));
    if (count <= 10) std::fprintf(stderr, "  failure: %s\n", what.substr(0, 400).c_str());
  }
};

// The application's resident memory through one phase.
class MemoryWatch {
 public:
  MemoryWatch(std::string phase, int pid) : phase_(std::move(phase)), pid_(pid) {}

  // VmRSS of /proc/PID/status in kilobytes; 0 when it cannot be read.
  long residentKilobytes() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
  }

  // The lowest of five readings over a second: what the application holds, not a
  // passing peak such as an image being encoded on one of its threads.
  long settledKilobytes() const {
    long lowest = residentKilobytes();
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(250ms);
      lowest = std::min(lowest, residentKilobytes());
    }
    return lowest;
  }

  // Samples at the start (0), after warm-up (0.1), then at each tenth to the end (1).
  void atFraction(long done, long total) {
    const int tenth = total > 0 ? static_cast<int>(done * 10 / total) : 10;
    while (next_ <= tenth) {
      samples_[next_] = settledKilobytes();
      ++next_;
    }
  }

  // The largest growth over the memory after warm-up, in percent.
  double growthPercent() const {
    const double warm = static_cast<double>(samples_.at(1));
    long highest = 0;
    for (const auto& [tenth, kb] : samples_) {
      if (tenth >= 1) highest = std::max(highest, kb);
    }
    return warm > 0 ? (highest - warm) * 100.0 / warm : 0;
  }
  bool flat() const { return samples_.size() == 11 && samples_.at(1) > 0 && growthPercent() <= 5.0; }

  void print() const {
    auto mb = [this](int tenth) { return samples_.count(tenth) ? samples_.at(tenth) / 1024.0 : 0.0; };
    std::printf("  memory (VmRSS, settled) of %s: start %.1f MB, after warm-up %.1f MB, middle %.1f MB, end %.1f MB\n",
                phase_.c_str(), mb(0), mb(1), mb(5), mb(10));
    std::printf("    each tenth:");
    for (const auto& [tenth, kb] : samples_) std::printf(" %.1f", kb / 1024.0);
    std::printf(" MB\n    after warm-up: %+.2f %% at most -> %s\n", growthPercent(),
                flat() ? "flat within 5 %" : "GROWS beyond 5 %");
  }

 private:
  std::string phase_;
  int pid_;
  int next_ = 0;
  std::map<int, long> samples_;
};

// The screen as the device input describes it, with each view's position xpath
// (class and index among same-class siblings, from the window down).
struct Screen {
  std::vector<TreeView> views;
  std::vector<std::string> xpaths;

  static std::optional<Screen> read(qvtest::LineClient& device) {
    auto lines = device.tree();
    if (!lines) return std::nullopt;
    Screen screen;
    std::vector<int> parents;
    for (const auto& line : *lines) {
      auto view = qvtest::readTreeLine(line);
      if (!view) return std::nullopt;
      int parent = static_cast<int>(screen.views.size()) - 1;
      while (parent >= 0 && screen.views[static_cast<std::size_t>(parent)].depth >= view->depth) {
        parent = parents[static_cast<std::size_t>(parent)];
      }
      std::string xpath;
      if (parent >= 0) {
        int sameClass = 0;
        for (std::size_t i = static_cast<std::size_t>(parent) + 1; i < screen.views.size(); ++i) {
          if (parents[i] == parent && screen.views[i].className == view->className) ++sameClass;
        }
        xpath = screen.xpaths[static_cast<std::size_t>(parent)] + "\\" + view->className + "[" +
                std::to_string(sameClass) + "]";
      }
      parents.push_back(parent);
      screen.views.push_back(*view);
      screen.xpaths.push_back(xpath);
    }
    return screen;
  }

  std::optional<std::size_t> indexOf(const std::string& identifier) const {
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (views[i].identifier == identifier) return i;
    }
    return std::nullopt;
  }
  const TreeView& view(const std::string& identifier) const { return views.at(indexOf(identifier).value()); }
  const std::string& xpath(const std::string& identifier) const { return xpaths.at(indexOf(identifier).value()); }
};

// An application run with its device input connected.
struct App {
  qvtest::AppProcess process;
  qvtest::LineClient device;

  App() : process(options()) {}
  static qvtest::AppOptions options() {
    qvtest::AppOptions o;
    o.environment["QUORVEL_LOG"] = "off";  // a log of every request would fill the disk
    return o;
  }
  bool start() { return process.ready() && device.connect(process.port()); }
};

// ---------------------------------------------------------------------------
// 1. Playback requests over one connection.

class PlaybackSoak {
 public:
  PlaybackSoak(App& app, Screen screen, long total, long actions)
      : app_(app), screen_(std::move(screen)), total_(total), actions_(actions),
        connection_(std::in_place, "127.0.0.1", qvctl::kPlayBackPort, 10s, 5s),
        memory_("playback requests", app.process.pid()) {}

  bool run() {
    const long actionEvery = actions_ > 0 ? std::max(1L, total_ / actions_) : 0;
    while (sent_ < total_) {
      memory_.atFraction(sent_, total_);
      if (actionEvery && actionsDone_ < actions_ && sent_ >= (actionsDone_ + 1) * actionEvery - actionEvery / 2) {
        action();
        continue;
      }
      const int r = static_cast<int>(rng_() % 1000);
      if (r < 300) {
        find();
      } else if (r < 780) {
        query();
      } else if (r < 880) {
        staleOrUnknown();
      } else if (r < 960) {
        malformed();
      } else if (r < 996) {
        findBelowOrEditable();
      } else if (r < 999) {
        aiFind();
      } else {
        snapshot();
      }
    }
    memory_.atFraction(total_, total_);
    connection_.reset();  // the port serves the next client once this one has left
    std::printf("  %ld requests, %ld of them clicks or typing; %ld failed replies\n", sent_, actionsDone_,
                failures_.count);
    memory_.print();
    return failures_.count == 0 && memory_.flat();
  }

  const Failures& failures() const { return failures_; }
  const MemoryWatch& memory() const { return memory_; }

 private:
  struct Element {
    std::string identifier;  // accessibility identifier; "" for the button's own label
    std::string className;
  };

  // The reply to one request as JSON (a discarded value when it is not JSON).
  json ask(const std::string& request) {
    ++sent_;
    try {
      return json::parse(qvctl::playRequest(*connection_, request, Clock::now() + 30s), nullptr, false);
    } catch (const std::exception& e) {
      failures_.add(std::string("no reply to ") + request + ": " + e.what());
      // A lost connection is made again, so that one failure does not end the run.
      connection_ = std::nullopt;
      connection_.emplace("127.0.0.1", qvctl::kPlayBackPort, 10s, 10s);
      return json::value_t::discarded;
    }
  }
  json ask(const json& request) { return ask(request.dump()); }

  void expect(const json& request, const json& reply, const json& expected) {
    if (reply != expected) failures_.add(request.dump() + " replied " + reply.dump() + ", not " + expected.dump());
  }

  // A find that must name `count` elements; their IDs, or nothing on failure.
  std::vector<std::string> expectFind(const json& request, std::size_t count) {
    const json reply = ask(request);
    std::vector<std::string> ids;
    if (reply.is_array()) {
      for (const auto& entry : reply) {
        if (entry.is_object() && entry.size() == 1 && isElementID(entry.value("elementID", json()))) {
          ids.push_back(entry["elementID"]);
        }
      }
    }
    const bool fresh = std::none_of(ids.begin(), ids.end(), [this](const std::string& id) {
      return std::find(lastIds_.begin(), lastIds_.end(), id) != lastIds_.end();
    });
    if (!reply.is_array() || ids.size() != reply.size() || ids.size() != count || !fresh ||
        std::set<std::string>(ids.begin(), ids.end()).size() != ids.size()) {
      failures_.add(request.dump() + " replied " + reply.dump() + ", not " + std::to_string(count) +
                    " new element IDs");
      ids.clear();
    }
    previousIds_ = lastIds_;
    lastIds_ = ids;
    current_.reset();
    return ids;
  }

  void findOne(const json& request, const Element& element) {
    auto ids = expectFind(request, 1);
    if (ids.size() == 1) current_ = {element, ids[0]};
  }

  json locate(const std::string& type, const std::string& value, const std::string& tag = "") {
    return {{"functionname", "findelements"}, {"tagname", tag}, {"accessortype", type}, {"accessorvalue", value}};
  }

  const Element& pick() { return elements_[rng_() % elements_.size()]; }

  void find() {
    switch (rng_() % 9) {
      case 0:
      case 1: {  // exact text of a label or the button
        static const char* withText[] = {"loginTitle", "rememberLabel", "outcomeLabel", "rememberChanges"};
        const std::string id = withText[rng_() % 4];
        findOne(locate("text", *screen_.view(id).text), {id, "UILabel"});
        break;
      }
      case 2:
        expectFind(locate("PartialText", "REMEMBER ME"), 2);  // the label and the count under it
        break;
      case 3:
        findOne(locate("partialtext", "sign in"), {"loginTitle", "UILabel"});
        break;
      case 4: {  // class alone
        static const Element byClass[] = {{"loginButton", "UIButton"}, {"rememberSwitch", "UISwitch"}};
        const Element& e = byClass[rng_() % 2];
        findOne(locate("", "", rng_() % 2 ? e.className : "uI" + e.className.substr(2)), e);
        if (rng_() % 4 == 0) expectFind(locate("", "", "UITextField"), 2);
        break;
      }
      case 5: {
        const Element& e = pick();
        findOne(locate("xpath", xpathOf(e), e.className), e);
        break;
      }
      case 6: {
        const Element& e = pick();
        if (e.identifier.empty()) break;
        findOne(locate("accessibilityid", e.identifier, rng_() % 2 ? e.className : ""), e);
        break;
      }
      case 7:  // a text that differs in letter case only, an empty partial text, an unknown rule
        expectFind(locate("text", "sign in to sample"), 0);
        expectFind(locate("partialtext", ""), 0);
        expectFind(locate("byColour", "blue"), 0);
        break;
      default:
        findOne(locate("xpath", screen_.xpath("userField"), "UITextField"), {"userField", "UITextField"});
        break;
    }
  }

  std::string xpathOf(const Element& e) const {
    if (!e.identifier.empty()) return screen_.xpath(e.identifier);
    return screen_.xpath("loginButton") + "\\UILabel[0]";
  }

  const TreeView& viewOf(const Element& e) const {
    if (!e.identifier.empty()) return screen_.view(e.identifier);
    return screen_.views.at(screen_.indexOf("loginButton").value() + 1);  // the button's own label
  }

  void query() {
    if (!current_) {
      find();
      return;
    }
    const auto& [element, id] = *current_;
    const TreeView& view = viewOf(element);
    auto request = [&](const char* function) { return json{{"functionname", function}, {"accessorvalue", id}}; };
    auto output = [](const std::string& text) { return json::array({{{"output", text}}}); };
    json r;
    switch (rng_() % 7) {
      case 0:
        if (!view.text) break;  // a switch shows no text of its own
        r = request("gettext");
        expect(r, ask(r), output(*view.text));
        break;
      case 1:
        r = request("getWidth");
        expect(r, ask(r), output(wholeNumber(view.frame.size.width)));
        break;
      case 2:
        r = request("getheight");
        expect(r, ask(r), output(wholeNumber(view.frame.size.height)));
        break;
      case 3:
        r = request("isenabled");
        expect(r, ask(r), output(element.className == "UILabel" ? "false" : "true"));
        break;
      case 4:
        r = request("isdisplayed");
        expect(r, ask(r), output("true"));
        break;
      case 5:
        r = request("isselected");
        expect(r, ask(r), view.on ? output(*view.on ? "true" : "false") : json::array());
        break;
      default:
        r = request("highlight");
        expect(r, ask(r), json::array());
        break;
    }
  }

  void staleOrUnknown() {
    // An element of the find before the last one, or one never issued: no answer.
    std::string id = "00000000-0000-4000-8000-000000000000";
    if (!previousIds_.empty() && rng_() % 2) id = previousIds_[rng_() % previousIds_.size()];
    const json r{{"functionname", rng_() % 2 ? "gettext" : "getwidth"}, {"accessorvalue", id}};
    expect(r, ask(r), json::array());
  }

  void malformed() {
    switch (rng_() % 4) {
      case 0: {
        const json r{{"functionname", "nosuchcommand"}, {"accessorvalue", "x"}};
        expect(r, ask(r), json::array());
        break;
      }
      case 1: {
        const json r{{"functionname", "get text"}};  // a word with an inner space is no command
        expect(r, ask(r), json::array());
        break;
      }
      case 2: {  // not JSON: a request with every member absent
        const json reply = ask(std::string("{\"functionname\": \"findelements\""));
        if (reply != json::array()) failures_.add("a request that is not JSON replied " + reply.dump());
        break;
      }
      default: {  // a member that is not a text fails the request, and says why
        const json r{{"functionname", "findelements"}, {"accessortype", "text"}, {"accessorvalue", 7}};
        const json reply = ask(r);
        if (!reply.is_array() || reply.size() != 1 || !reply[0].is_object() || reply[0].size() != 1 ||
            !reply[0].contains("exceptionmsg") || !reply[0]["exceptionmsg"].is_string() ||
            reply[0]["exceptionmsg"].get<std::string>().find("accessorvalue") == std::string::npos) {
          failures_.add(r.dump() + " replied " + reply.dump() + ", not one \"exceptionmsg\" naming the member");
        }
        break;
      }
    }
  }

  void findBelowOrEditable() {
    switch (rng_() % 3) {
      case 0: {
        auto button = expectFind(locate("accessibilityid", "loginButton"), 1);
        if (button.empty()) break;
        findOne({{"functionname", "findelementsinsideelement"}, {"tagname", "UILabel"}, {"accessortype", ""},
                 {"accessorvalue", ""}, {"datavalue", button[0]}},
                {"", "UILabel"});
        break;
      }
      case 1:
        findOne({{"functionname", "findeditablecomponents"}, {"accessortype", "partialtext"}, {"accessorvalue", "name"}},
                {"userField", "UITextField"});
        break;
      default:
        expectFind({{"functionname", "findeditablecomponents"}, {"accessortype", ""}, {"accessorvalue", ""}}, 2);
        break;
    }
  }

  void aiFind() {
    const json r{{"functionname", "ai_findelements"}, {"tagname", "UISwitch"}};
    const json reply = ask(r);
    const TreeView& view = screen_.view("rememberSwitch");
    const json rectangle{{"x", twoDecimals(view.frame.origin.x)},
                         {"y", twoDecimals(view.frame.origin.y)},
                         {"width", twoDecimals(view.frame.size.width)},
                         {"height", twoDecimals(view.frame.size.height)}};
    previousIds_ = lastIds_;
    lastIds_.clear();
    current_.reset();
    if (!reply.is_array() || reply.size() != 1 || !reply[0].is_object() || !isElementID(reply[0].value("elementID", json())) ||
        reply[0].value("elementType", json()) != "UISwitch" || reply[0].value("rectangle", json()) != rectangle ||
        !reply[0].value("imageBase64", json()).is_string() || reply[0]["imageBase64"].get<std::string>().empty()) {
      failures_.add(r.dump() + " replied " + qvctl::withoutImages(reply.dump()) + ", not the switch at " +
                    rectangle.dump());
      return;
    }
    // Its element ID serves every element command until the next find.
    lastIds_ = {reply[0]["elementID"]};
    current_ = {{"rememberSwitch", "UISwitch"}, reply[0]["elementID"]};
  }

  void snapshot() {
    const json r{{"functionname", "ai_getscreensnapshot"}};
    ++sent_;
    try {
      const std::string jpeg = qvctl::snapshotJPEG(qvctl::playRequest(*connection_, r.dump(), Clock::now() + 30s));
      auto image = UIImageWithJPEGData(NSData(jpeg.begin(), jpeg.end()));
      const double scale = UIScreen::mainScreen()->scale();
      const TreeView& window = screen_.views.at(0);
      if (!image || image->pixelWidth() != static_cast<int>(window.frame.size.width * scale) ||
          image->pixelHeight() != static_cast<int>(window.frame.size.height * scale)) {
        failures_.add("the screen snapshot is not a JPEG of the window's size");
      }
    } catch (const std::exception& e) {
      failures_.add(std::string("screen snapshot: ") + e.what());
    }
  }

  // A click or typing, in turn: the switch, the user name, the "Log In" button. The
  // effect is read back from the screen and then asked of the agent.
  void action() {
    const int kind = static_cast<int>(actionsDone_++ % 3);
    static const Element targets[] = {{"rememberSwitch", "UISwitch"}, {"userField", "UITextField"},
                                      {"loginButton", "UIButton"}};
    const Element& target = targets[kind];
    auto ids = expectFind(locate("accessibilityid", target.identifier), 1);
    if (ids.empty()) return;
    const Screen before = screen_;
    const std::string typed = "soak" + std::to_string(actionsDone_);
    const json r = kind == 1 ? json{{"functionname", "sendkeysonelement"}, {"accessorvalue", ids[0]}, {"datavalue", typed}}
                             : json{{"functionname", "clickelement"}, {"accessorvalue", ids[0]}};
    expect(r, ask(r), json::array());
    auto now = Screen::read(app_.device);
    if (!now) {
      failures_.add("the device input gave no readable screen");
      return;
    }
    screen_ = *now;
    current_ = {target, ids[0]};
    lastIds_ = ids;
    switch (kind) {
      case 0:
        if (screen_.view("rememberSwitch").on == before.view("rememberSwitch").on) {
          failures_.add("clicking the switch did not toggle it");
        }
        break;
      case 1:
        if (screen_.view("userField").text != typed) failures_.add("typing left the field reading something else");
        break;
      default: {
        const bool on = screen_.view("rememberSwitch").on.value_or(false);
        const std::string welcome = "Welcome, " + *screen_.view("userField").text + (on ? " (remembered)" : "");
        if (screen_.view("outcomeLabel").text != welcome) failures_.add("clicking \"Log In\" did not log in");
        break;
      }
    }
    query();  // the element acted on, as it is now
  }

  App& app_;
  Screen screen_;
  long total_, actions_;
  std::optional<qvctl::Connection> connection_;
  MemoryWatch memory_;
  Failures failures_;
  std::mt19937 rng_{20240611};
  long sent_ = 0, actionsDone_ = 0;
  std::vector<std::string> lastIds_, previousIds_;
  std::optional<std::pair<Element, std::string>> current_;
  const std::vector<Element> elements_{{"loginTitle", "UILabel"},     {"userField", "UITextField"},
                                       {"passwordField", "UITextField"}, {"rememberLabel", "UILabel"},
                                       {"rememberSwitch", "UISwitch"},  {"rememberChanges", "UILabel"},
                                       {"loginButton", "UIButton"},     {"outcomeLabel", "UILabel"},
                                       {"", "UILabel"}};
};

// ---------------------------------------------------------------------------
// 2. Connections to the playback port, one after the other.

bool reconnectSoak(App& app, const Screen& screen, long cycles, Failures& failures) {
  MemoryWatch memory("playback connections", app.process.pid());
  const std::string request =
      json{{"functionname", "findelements"}, {"tagname", ""}, {"accessortype", "accessibilityid"}, {"accessorvalue", "loginButton"}}
          .dump();
  for (long i = 0; i < cycles; ++i) {
    memory.atFraction(i, cycles);
    try {
      qvctl::Connection connection("127.0.0.1", qvctl::kPlayBackPort, 10s, 15s);
      const json found = json::parse(qvctl::playRequest(connection, request, Clock::now() + 30s), nullptr, false);
      if (!found.is_array() || found.size() != 1 || !isElementID(found[0].value("elementID", json()))) {
        failures.add("connection " + std::to_string(i) + ": the find replied " + found.dump());
        continue;
      }
      const json text = json::parse(
          qvctl::playRequest(connection, json{{"functionname", "gettext"}, {"accessorvalue", found[0]["elementID"]}}.dump(),
                             Clock::now() + 30s),
          nullptr, false);
      if (text != json::array({{{"output", *screen.view("loginButton").text}}})) {
        failures.add("connection " + std::to_string(i) + ": gettext replied " + text.dump());
      }
    } catch (const std::exception& e) {
      failures.add("connection " + std::to_string(i) + ": " + e.what());
    }
  }
  memory.atFraction(cycles, cycles);
  std::printf("  %ld connections, two requests each; %ld failed\n", cycles, failures.count);
  memory.print();
  return failures.count == 0 && memory.flat();
}

// ---------------------------------------------------------------------------
// 3. Taps recorded as steps.
//
// The recorded-action thread keeps one record per touched view in each of its
// 0.1-second cycles, and a view is recorded only once a polling cycle has seen it.
// So every target is first tapped until a step for it arrives, and afterwards a
// view is touched again only once the step of its previous touch has arrived: by
// then that touch's cycle is over, and every tap must give exactly one step, in
// the order of the taps. Labels take no touches, so a tap on one touches the
// screen's container view, and the step names the label under the finger.

class RecordingSoak {
 public:
  RecordingSoak(App& app, Screen screen, long taps)
      : app_(app), screen_(std::move(screen)), taps_(taps),
        recorder_("127.0.0.1", qvctl::kRecorderPort, 10s, 5s), memory_("recording", app.process.pid()) {
    auto target = [this](const std::string& id, const std::string& touched) {
      const auto index = screen_.indexOf(id).value();
      targets_.push_back({screen_.views[index].middle(), touched, index});
    };
    target("loginButton", "UIButton");  // first: it changes the outcome label's text once
    target("rememberSwitch", "UISwitch");
    target("loginTitle", "UIView");
    target("rememberLabel", "UIView");
    target("rememberChanges", "UIView");
    target("outcomeLabel", "UIView");
    for (std::size_t i = 0; i < screen_.views.size(); ++i) {
      const TreeView& v = screen_.views[i];
      // The container itself, below everything else on it; the navigation bar's title.
      if (v.className == "UIView" && v.depth == 3) targets_.push_back({{v.middle().x, v.frame.origin.y + v.frame.size.height - 100}, "UIView", i});
      if (v.className == "UILabel" && v.text == "Login" && screen_.views[i - 1].className == "UINavigationItemView") {
        targets_.push_back({v.middle(), "UINavigationBar", i});
      }
      if (v.className == "UITabBarButton" && v.text == "Login") targets_.push_back({v.middle(), "UITabBarButton", i});
    }
  }

  bool run() {
    const std::string greeting = recorder_.readFrame(Clock::now() + 10s);
    if (greeting.rfind(qvctl::kRecorderGreetingPrefix, 0) != 0) failures_.add("the recorder greeted with " + greeting);
    if (!warmUp()) return false;

    // Each round touches every view once, taking the labels on the container in turn.
    std::vector<std::size_t> round;
    std::size_t nextOnContainer = 0;
    std::vector<std::size_t> onContainer;
    for (std::size_t t = 0; t < targets_.size(); ++t) {
      if (targets_[t].touched == "UIView") onContainer.push_back(t);
    }
    for (long i = 0; i < taps_;) {
      memory_.atFraction(i, taps_);
      round.clear();
      for (std::size_t t = 0; t < targets_.size(); ++t) {
        if (targets_[t].touched != "UIView") round.push_back(t);
      }
      round.push_back(onContainer[nextOnContainer++ % onContainer.size()]);
      for (std::size_t t : round) {
        if (i >= taps_) break;
        // The previous touch of this view must have given its step.
        while (std::any_of(outstanding_.begin(), outstanding_.end(),
                           [&](const Tap& tap) { return targets_[tap.target].touched == targets_[t].touched; })) {
          receive(Clock::now() + 15s);
        }
        tap(t);
        ++i;
      }
    }
    while (!outstanding_.empty()) receive(Clock::now() + 15s);
    memory_.atFraction(taps_, taps_);
    std::printf("  %ld taps on %zu views (%zu targets); %ld steps received, %ld lost, %ld wrong or unexpected\n",
                taps_, round.size(), targets_.size(), received_, lost_, failures_.count);
    memory_.print();
    return lost_ == 0 && failures_.count == 0 && memory_.flat();
  }

  long lost() const { return lost_; }
  const Failures& failures() const { return failures_; }

 private:
  struct Target {
    CGPoint point;
    std::string touched;  // the class of the view the finger lands on
    std::size_t view;     // the element the step must name
  };
  struct Tap {
    std::size_t target;
    long switchTapsBefore;  // switch taps dispatched before this tap
  };

  void tap(std::size_t t) {
    char line[64];
    std::snprintf(line, sizeof line, "tap %.1f %.1f", targets_[t].point.x, targets_[t].point.y);
    const std::string answer = app_.device.ask(line);
    if (answer != "ok " + targets_[t].touched) failures_.add(std::string(line) + " answered " + answer);
    outstanding_.push_back({t, switchTaps_});
    if (targets_[t].touched == "UISwitch") {
      ++switchTaps_;
      switchOn_ = !switchOn_;
    }
  }

  // The next step, matched with the oldest tap still waiting; a tap whose step
  // does not come (another comes first, or none in time) is lost.
  void receive(Clock::time_point deadline) {
    std::string payload;
    try {
      payload = recorder_.readFrame(deadline);
    } catch (const std::exception& e) {
      lost_ += static_cast<long>(outstanding_.size());
      failures_.add(std::to_string(outstanding_.size()) + " steps did not come: " + e.what());
      outstanding_.clear();
      return;
    }
    ++received_;
    const json entry = json::parse(payload, nullptr, false);
    if (!entry.is_array() || entry.size() != 1 || !entry[0].is_object() || entry[0].value("popupName", json()) != "" ||
        !entry[0].contains("arguments") || !entry[0]["arguments"].is_array() || entry[0]["arguments"].size() != 2) {
      failures_.add("not a step: " + payload.substr(0, 300));
      return;
    }
    const json& step = entry[0];
    const std::string xpath = step["arguments"][0].value("xpath:position", "");
    while (!outstanding_.empty() && screen_.xpaths[targets_[outstanding_.front().target].view] != xpath) {
      ++lost_;
      failures_.add("no step for a tap on " + screen_.xpaths[targets_[outstanding_.front().target].view] +
                    "; the next step names " + xpath);
      outstanding_.pop_front();
    }
    if (outstanding_.empty()) {
      failures_.add("a step for no tap: " + payload.substr(0, 300));
      return;
    }
    check(step, outstanding_.front());
    outstanding_.pop_front();
  }

  void check(const json& step, const Tap& tap) {
    const Target& target = targets_[tap.target];
    const TreeView& view = screen_.views[target.view];
    const json& element = step["arguments"][0];
    std::string action = "Click";
    if (view.className == "UIButton") action = "ClickButton";
    if (view.className == "UISwitch") {
      // The switch's state once its tap was dispatched.
      const bool onAfter = initialSwitchOn_ != ((tap.switchTapsBefore + 1) % 2 == 1);
      action = onAfter ? "Mobile_SelectSwitch" : "Mobile_DeSelectSwitch";
    }
    std::vector<std::string> wrong;
    if (step.value("action", "") != action) wrong.push_back("action " + step.value("action", "") + ", not " + action);
    if (element.value("className", "") != view.className) wrong.push_back("class " + element.value("className", ""));
    if (element.value("id", "") != view.identifier.value_or("")) wrong.push_back("id " + element.value("id", ""));
    if (element.value("width", "") != wholeNumber(view.frame.size.width) ||
        element.value("height", "") != wholeNumber(view.frame.size.height)) {
      wrong.push_back("size " + element.value("width", "") + " x " + element.value("height", ""));
    }
    if (step["arguments"][1] != json{{"type", "string"}, {"data", ""}}) wrong.push_back("data " + step["arguments"][1].dump());
    const std::string text = element.value("elementText", "");
    if (view.identifier == "rememberChanges") {
      // Built after the tap, while later taps may toggle the switch again.
      const std::string prefix = "Remember me changes: ";
      const long changes = text.rfind(prefix, 0) == 0 ? std::atol(text.c_str() + prefix.size()) : -1;
      if (changes < baseChanges_ + tap.switchTapsBefore || changes > baseChanges_ + switchTaps_) {
        wrong.push_back("text " + text);
      }
    } else if (view.text && (view.className == "UILabel" || view.className == "UIButton") && text != *view.text) {
      wrong.push_back("text " + text);
    }
    // The index and image: the same element each time, rendered at its size.
    auto& first = firstIndex_[target.view];
    if (first.empty()) first = element.value("index", "");
    if (element.value("index", "") != first) wrong.push_back("index " + element.value("index", ""));
    auto jpeg = foundation::base64Decode(element.value("ObjectImage", ""));
    auto image = jpeg ? UIImageWithJPEGData(*jpeg) : nullptr;
    const double scale = UIScreen::mainScreen()->scale();
    if (!image || image->pixelWidth() != static_cast<int>(view.frame.size.width * scale)) wrong.push_back("image");
    if (!wrong.empty()) {
      std::string all;
      for (const auto& w : wrong) all += (all.empty() ? "" : "; ") + w;
      failures_.add("step for " + screen_.xpaths[target.view] + ": " + all);
    }
  }

  // Every target tapped until its step arrives; steps of earlier taps that were
  // only slow are taken as well.
  bool warmUp() {
    for (std::size_t t = 0; t < targets_.size(); ++t) {
      bool seen = false;
      for (auto until = Clock::now() + 30s; !seen && Clock::now() < until;) {
        tap(t);
        outstanding_.clear();
        for (auto wait = Clock::now() + 2500ms; !seen && Clock::now() < wait;) {
          try {
            const json entry = json::parse(recorder_.readFrame(wait), nullptr, false);
            seen = entry.is_array() && entry.size() == 1 &&
                   entry[0]["arguments"][0].value("xpath:position", "") == screen_.xpaths[targets_[t].view];
          } catch (const std::exception&) {
          }
        }
      }
      if (!seen) {
        failures_.add("no step at all for a tap on " + screen_.xpaths[targets_[t].view]);
        return false;
      }
    }
    try {
      while (true) recorder_.readFrame(Clock::now() + 2500ms);
    } catch (const std::exception&) {
    }
    auto now = Screen::read(app_.device);
    if (!now) {
      failures_.add("the device input gave no readable screen");
      return false;
    }
    screen_ = *now;  // the outcome label now tells that nobody logged in
    initialSwitchOn_ = switchOn_ = screen_.view("rememberSwitch").on.value_or(false);
    switchTaps_ = 0;
    const std::string changes = screen_.view("rememberChanges").text.value_or("");
    baseChanges_ = std::atol(changes.c_str() + std::min(changes.size(), changes.rfind(' ') + 1));
    return true;
  }

  App& app_;
  Screen screen_;
  long taps_;
  qvctl::Connection recorder_;
  MemoryWatch memory_;
  Failures failures_;
  std::vector<Target> targets_;
  std::deque<Tap> outstanding_;
  std::map<std::size_t, std::string> firstIndex_;
  long switchTaps_ = 0, baseChanges_ = 0, received_ = 0, lost_ = 0;
  bool switchOn_ = false, initialSwitchOn_ = false;
};

// Starts an application run, reads its login screen and runs `phases` on it; false
// when the application did not start, ended meanwhile, or a phase stopped early.
template <typename Phases>
bool inApplication(Phases phases) {
  try {
    App app;
    std::optional<Screen> screen;
    if (!app.start()) {
      std::printf("  the sample application did not start\n");
      return false;
    }
    screen = Screen::read(app.device);
    if (!screen || !screen->indexOf("loginButton") || !screen->indexOf("rememberSwitch")) {
      std::printf("  the sample application does not show its login screen\n");
      return false;
    }
    bool ok = phases(app, *screen);
    if (!app.process.alive()) {
      std::printf("  the application ended\n");
      ok = false;
    }
    return ok;
  } catch (const std::exception& e) {
    std::printf("  stopped: %s\n", e.what());
    return false;
  }
}

}  // namespace

int main() {
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);
  const long commands = setting("SOAK_COMMANDS", 100000);
  const long actions = setting("SOAK_ACTIONS", 300);
  const long cycles = setting("SOAK_CYCLES", 1000);
  const long taps = setting("SOAK_TAPS", 10000);
  long failedReplies = 0, lostSteps = 0;
  const auto started = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };

  bool ok = inApplication([&](App& app, const Screen& screen) {
    std::printf("1. %ld playback requests over one connection\n", commands);
    std::fflush(stdout);
    PlaybackSoak playback(app, screen, commands, actions);
    bool passed = playback.run();
    failedReplies += playback.failures().count;
    std::printf("   (%.0f s)\n2. %ld connections to the playback port\n", elapsed(), cycles);
    std::fflush(stdout);
    // The requests typed, toggled and logged in: the screen as it is now.
    const auto now = Screen::read(app.device);
    if (!now) {
      std::printf("  the device input gave no readable screen\n");
      return false;
    }
    Failures reconnects;
    passed = reconnectSoak(app, *now, cycles, reconnects) && passed;
    failedReplies += reconnects.count;
    return passed;
  });

  std::printf("   (%.0f s)\n3. %ld taps recorded, in a second run of the application\n", elapsed(), taps);
  std::fflush(stdout);
  ok = inApplication([&](App& app, const Screen& screen) {
    RecordingSoak recording(app, screen, taps);
    const bool passed = recording.run();
    lostSteps = recording.lost();
    failedReplies += recording.failures().count;
    return passed;
  }) && ok;
  std::printf("   (%.0f s)\nsoak %s: %ld failed replies or checks, %ld lost steps\n", elapsed(),
              ok ? "passed" : "FAILED", failedReplies, lostSteps);
  return ok ? 0 : 1;
}
