// Perform Actions and Release Actions. The agent acts with whole gestures, not
// single pointer events, so one finger's sequence is read as a whole: put down and
// lifted where it was put down, it taps the element it was moved to; lifted
// elsewhere, it swipes across that element (or across the screen when it was
// placed by viewport coordinates) in the movement's main direction.
#include <cmath>
#include <map>
#include <optional>

#include "ElementRect.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

// A lift this close to where the finger went down is a tap, not a swipe.
constexpr double kTapSlop = 10.0;

[[noreturn]] void invalid(const std::string& message) { throw DriverError(ErrorCode::invalidArgument, message); }
[[noreturn]] void unsupported(const std::string& message) {
  throw DriverError(ErrorCode::unsupportedOperation, message);
}

// A pointer position: an offset from an element's centre, or from the viewport's
// origin when there is no element.
struct Position {
  std::optional<std::string> element;
  double x = 0, y = 0;
};

double coordinate(const json& action, const char* name) {
  auto it = action.find(name);
  if (it == action.end() || it->is_null()) return 0;
  if (!it->is_number()) invalid(std::string("\"") + name + "\" of a pointer move must be a number");
  return it->get<double>();
}

bool isPause(const json& action) { return action.is_object() && action.value("type", "") == "pause"; }

// The one source that does something; sources of pauses alone only keep time.
const json& activeSource(const json& body) {
  auto it = body.find("actions");
  if (it == body.end() || !it->is_array()) invalid("\"actions\" must be a list of input sources");
  const json* active = nullptr;
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
    for (const auto& action : source["actions"]) idle = idle && isPause(action);
    if (idle) continue;
    if (type != "pointer") unsupported("only pointer (finger) actions are supported, not \"" + type + "\" actions");
    if (active) unsupported("gestures with more than one finger are not supported");
    active = &source;
  }
  static const json kNone;
  return active ? *active : kNone;
}

class Gesture {
 public:
  explicit Gesture(CommandContext& context) : context_(context) {}

  void read(const json& actions) {
    for (const auto& action : actions) {
      if (!action.is_object() || !action.contains("type") || !action["type"].is_string()) {
        invalid("a pointer action needs a \"type\"");
      }
      const std::string type = action["type"];
      if (type == "pointerMove") {
        move(action);
      } else if (type == "pointerDown") {
        if (down_) invalid("pointerDown while the finger is already down");
        if (up_) unsupported("only one touch per gesture is supported");
        down_ = position_;
      } else if (type == "pointerUp") {
        if (!down_) continue;  // nothing was pressed: nothing to lift
        up_ = position_;
      } else if (type != "pause" && type != "pointerCancel") {
        invalid("unknown pointer action \"" + type + "\"");
      }
    }
  }

  void perform() {
    if (!down_) return;  // moves alone do nothing on a touch screen
    if (!up_) unsupported("the finger must be lifted again in the same actions");
    auto [dx, dy] = delta(*down_, *up_);
    qvctl::Request request;
    if (std::hypot(dx, dy) < kTapSlop) {
      if (!down_->element) unsupported("a tap at a screen point; tap an element (pointer moved to an element origin)");
      request.functionname = "clickelement";
      request.accessorvalue = *down_->element;
    } else {
      request.functionname = "swipeon";
      request.accessorvalue = down_->element.value_or("");  // "": the screen's first view
      request.datavalue = std::abs(dx) >= std::abs(dy) ? (dx < 0 ? "left" : "right") : (dy < 0 ? "up" : "down");
    }
    context_.session->play(request);
  }

 private:
  void move(const json& action) {
    const double x = coordinate(action, "x"), y = coordinate(action, "y");
    auto origin = action.find("origin");
    if (origin == action.end() || *origin == "viewport") {
      position_ = {std::nullopt, x, y};
    } else if (*origin == "pointer") {
      position_.x += x;
      position_.y += y;
    } else if (origin->is_object() && origin->contains(kElementKey) && (*origin)[kElementKey].is_string()) {
      const std::string id = (*origin)[kElementKey];
      context_.session->requireCurrent(id);
      position_ = {id, x, y};
    } else {
      invalid("a pointer move's \"origin\" must be \"viewport\", \"pointer\" or an element");
    }
  }

  std::pair<double, double> absolute(const Position& p) {
    if (!p.element) return {p.x, p.y};
    auto [it, fresh] = rects_.try_emplace(*p.element);
    if (fresh) it->second = elementRect(*context_.session, *p.element);
    const ElementRect& r = it->second;
    return {r.x + r.width / 2 + p.x, r.y + r.height / 2 + p.y};
  }

  std::pair<double, double> delta(const Position& from, const Position& to) {
    if (from.element == to.element) return {to.x - from.x, to.y - from.y};
    auto [fx, fy] = absolute(from);
    auto [tx, ty] = absolute(to);
    return {tx - fx, ty - fy};
  }

  CommandContext& context_;
  Position position_;
  std::optional<Position> down_, up_;
  std::map<std::string, ElementRect> rects_;
};

json performActions(CommandContext& context) {
  const json& source = activeSource(context.body);
  if (source.is_null()) return nullptr;
  Gesture gesture(context);
  gesture.read(source["actions"]);
  gesture.perform();
  return nullptr;
}

}  // namespace

std::vector<Route> actionCommands() {
  return {
      {"POST", "/session/:sessionId/actions", performActions},
      // Nothing stays pressed between Perform Actions: there is nothing to release.
      {"DELETE", "/session/:sessionId/actions", [](CommandContext&) -> json { return nullptr; }},
  };
}

}  // namespace qvdriver
