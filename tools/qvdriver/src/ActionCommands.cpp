// Perform Actions and Release Actions. A pointer (touch or mouse) is one finger:
// moves place it (at a viewport point, an element's centre plus an offset, or
// relative to where it is); while it is down, its moves and pauses draw a path
// with the timing they ask for, and lifting it plays that path on the device as
// one touch (a tap where it never moved). Key actions type their keys into the
// field that has the keyboard focus. A finger still down when the actions end
// stays down until the next actions lift it or Release Actions does.
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "AgentQueries.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

// A move with a duration is drawn as points this many milliseconds apart (a
// screen's refresh), at most kMaxMoveSteps of them.
constexpr double kMoveStepMs = 16;
constexpr int kMaxMoveSteps = 120;

[[noreturn]] void unsupported(const std::string& message) {
  throw DriverError(ErrorCode::unsupportedOperation, message);
}

double number(const json& action, const char* name) {
  auto it = action.find(name);
  if (it == action.end() || it->is_null()) return 0;
  if (!it->is_number()) invalid(std::string("\"") + name + "\" of an action must be a number");
  return it->get<double>();
}

bool isPause(const json& action) { return action.is_object() && action.value("type", "") == "pause"; }

// The sources that do something, in the order given; sources of pauses alone only
// keep time.
std::vector<const json*> activeSources(const json& body) {
  auto it = body.find("actions");
  if (it == body.end() || !it->is_array()) invalid("\"actions\" must be a list of input sources");
  std::vector<const json*> active;
  bool pointer = false;
  for (const auto& source : *it) {
    if (!source.is_object() || !source.contains("type") || !source["type"].is_string()) {
      invalid("an input source needs a \"type\"");
    }
    const std::string type = source["type"];
    if (type != "none" && type != "key" && type != "pointer" && type != "wheel") {
      invalid("unknown input source type \"" + type + "\"");
    }
    if (!source.contains("actions") || !source["actions"].is_array()) invalid("an input source needs \"actions\"");
    bool idle = true;
    for (const auto& action : source["actions"]) {
      if (!action.is_object() || !action.contains("type") || !action["type"].is_string()) {
        invalid("an action needs a \"type\"");
      }
      idle = idle && isPause(action);
    }
    if (idle) continue;
    if (type == "wheel" || type == "none") unsupported("\"" + type + "\" actions are not supported; use a pointer");
    if (type == "pointer") {
      if (pointer) unsupported("gestures with more than one finger are not supported");
      pointer = true;
    }
    active.push_back(&source);
  }
  return active;
}

class Finger {
 public:
  explicit Finger(CommandContext& context) : context_(context), state_(context.session->pointer()) {}

  void perform(const json& actions) {
    for (const auto& action : actions) {
      const std::string type = action["type"];
      if (type == "pointerMove") {
        move(action);
      } else if (type == "pointerDown") {
        if (state_.down) invalid("pointerDown while the finger is already down");
        state_.down = true;
        state_.path = {{state_.x, state_.y, 0}};
      } else if (type == "pointerUp") {
        if (state_.down) lift();
      } else if (type == "pause") {
        if (state_.down) state_.path.back()[2] += std::max(0.0, number(action, "duration"));
      } else if (type != "pointerCancel") {
        invalid("unknown pointer action \"" + type + "\"");
      }
    }
  }

  void lift() {
    auto path = std::move(state_.path);
    state_.path.clear();
    state_.down = false;
    touchPath(*context_.session, path);
  }

 private:
  void move(const json& action) {
    const double x = number(action, "x"), y = number(action, "y");
    double toX = x, toY = y;
    auto origin = action.find("origin");
    if (origin == action.end() || *origin == "viewport") {
    } else if (*origin == "pointer") {
      toX = state_.x + x;
      toY = state_.y + y;
    } else if (origin->is_object() && origin->contains(kElementKey) && (*origin)[kElementKey].is_string()) {
      const std::string id = (*origin)[kElementKey];
      context_.session->requireCurrent(id);
      auto [it, fresh] = rects_.try_emplace(id);
      if (fresh) it->second = elementRect(*context_.session, id);
      toX = it->second.centreX() + x;
      toY = it->second.centreY() + y;
    } else {
      invalid("a pointer move's \"origin\" must be \"viewport\", \"pointer\" or an element");
    }
    if (state_.down) {
      // Points along the way, the finger's time spread over them.
      const double duration = std::max(0.0, number(action, "duration"));
      const int steps = std::clamp(static_cast<int>(duration / kMoveStepMs), 1, kMaxMoveSteps);
      const double fromX = state_.x, fromY = state_.y;
      for (int i = 1; i <= steps; ++i) {
        const double f = static_cast<double>(i) / steps;
        state_.path.back()[2] += duration / steps;
        state_.path.push_back({fromX + (toX - fromX) * f, fromY + (toY - fromY) * f, 0});
      }
    }
    state_.x = toX;
    state_.y = toY;
  }

  CommandContext& context_;
  Session::Pointer& state_;
  std::map<std::string, ElementRect> rects_;
};

void typeKeys(CommandContext& context, const json& actions) {
  std::string keys;
  for (const auto& action : actions) {
    const std::string type = action["type"];
    if (type == "keyDown") {
      auto value = action.find("value");
      if (value == action.end() || !value->is_string()) invalid("a keyDown action needs a \"value\"");
      keys += value->get<std::string>();
    } else if (type != "keyUp" && type != "pause") {
      invalid("unknown key action \"" + type + "\"");
    }
  }
  const std::string text = typedText(keys, true);
  if (text.empty()) return;
  qvctl::Request request;
  request.functionname = "typekeys";
  request.datavalue = text;
  if (context.session->play(request) != json::array({{{"output", "true"}}})) {
    throw DriverError(ErrorCode::invalidElementState, "no field has the keyboard focus: tap one first");
  }
}

json performActions(CommandContext& context) {
  for (const json* source : activeSources(context.body)) {
    if ((*source)["type"] == "key") {
      typeKeys(context, (*source)["actions"]);
    } else {
      Finger(context).perform((*source)["actions"]);
    }
  }
  return nullptr;
}

json releaseActions(CommandContext& context) {
  Finger finger(context);
  if (context.session->pointer().down) finger.lift();
  return nullptr;
}

}  // namespace

std::vector<Route> actionCommands() {
  return {
      {"POST", "/session/:sessionId/actions", performActions},
      {"DELETE", "/session/:sessionId/actions", releaseActions},
  };
}

}  // namespace qvdriver
