// Execute Script (synchronous). The application runs no scripts, but clients send
// some of their own: the language bindings ask whether an element is displayed
// and read its attributes through their built-in page functions, recognised here
// by the function's name, and Appium-style clients offer gestures as "mobile:"
// commands. Every other script is an unsupported operation.
#include <algorithm>
#include <cctype>
#include <regex>

#include "AgentQueries.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

// The scrolls "mobile: scroll" makes at most while it looks for an element.
constexpr int kMaxScrolls = 20;
// A swipe: the finger crosses half the area in this many steps, this far apart.
constexpr int kSwipeSteps = 8;
constexpr double kSwipeStepMs = 16;

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The name of the bindings' function a script runs: "/* name */return (...)" as
// the plain bindings write it, or the name of the first function it declares.
std::string scriptFunctionName(const std::string& script) {
  static const std::regex kComment(R"(^\s*/\*\s*([A-Za-z_$][\w$]*)\s*\*/)");
  static const std::regex kFunction(R"(function\s+([A-Za-z_$][\w$]*)\s*\()");
  const std::string head = script.substr(0, 400);
  std::smatch m;
  if (std::regex_search(head, m, kComment) || std::regex_search(head, m, kFunction)) return m[1];
  return {};
}

// An element argument: a web element reference, or an Appium-style bare ID.
std::string elementArgument(CommandContext& context, const json& value) {
  std::string id;
  if (value.is_string()) {
    id = value.get<std::string>();
  } else if (value.is_object() && value.contains(kElementKey) && value[kElementKey].is_string()) {
    id = value[kElementKey].get<std::string>();
  } else if (value.is_object() && value.contains("ELEMENT") && value["ELEMENT"].is_string()) {
    id = value["ELEMENT"].get<std::string>();
  } else {
    invalid("the script's argument is not an element");
  }
  context.session->requireCurrent(id);
  return id;
}

// The element an Appium-style argument object names ("elementId" or "element"),
// if any.
std::optional<std::string> namedElement(CommandContext& context, const json& options) {
  for (const char* key : {"elementId", "element"}) {
    if (auto it = options.find(key); it != options.end() && !it->is_null()) return elementArgument(context, *it);
  }
  return std::nullopt;
}

// Runs a command of the element routes on the element the script names: the
// bindings' own page functions answer as the routes do.
json elementRoute(CommandContext& context, const std::string& path, const std::string& element,
                  std::map<std::string, std::string> params = {}) {
  params["sessionId"] = context.session->id();
  params["elementId"] = element;
  for (const auto& route : elementCommands()) {
    if (route.method == "GET" && route.pattern == path) {
      CommandContext inner{context.driver, std::move(params), json::object(), context.session};
      return route.handler(inner);
    }
  }
  throw DriverError(ErrorCode::unknownError, "no element command " + path);
}

double optionalNumber(const json& options, const char* name, double otherwise) {
  auto it = options.find(name);
  if (it == options.end() || it->is_null()) return otherwise;
  if (!it->is_number()) invalid(std::string("\"") + name + "\" must be a number");
  return it->get<double>();
}

std::string direction(const json& options, const char* otherwise) {
  auto it = options.find("direction");
  const std::string word = it != options.end() && it->is_string() ? lowercase(it->get<std::string>()) : otherwise;
  if (word != "up" && word != "down" && word != "left" && word != "right") {
    invalid("\"direction\" must be up, down, left or right");
  }
  return word;
}

// A finger dragged across the middle half of `area` the way `word` says it moves.
void swipe(Session& session, const ElementRect& area, const std::string& word) {
  double fromX = area.centreX(), fromY = area.centreY(), toX = fromX, toY = fromY;
  const double dx = area.width / 4, dy = area.height / 4;
  if (word == "up") fromY += dy, toY -= dy;
  if (word == "down") fromY -= dy, toY += dy;
  if (word == "left") fromX += dx, toX -= dx;
  if (word == "right") fromX -= dx, toX += dx;
  std::vector<std::array<double, 3>> path;
  for (int i = 0; i <= kSwipeSteps; ++i) {
    const double f = static_cast<double>(i) / kSwipeSteps;
    path.push_back({fromX + (toX - fromX) * f, fromY + (toY - fromY) * f, i < kSwipeSteps ? kSwipeStepMs : 0});
  }
  touchPath(session, path);
}

ElementRect areaOf(CommandContext& context, const std::optional<std::string>& element) {
  return element ? elementRect(*context.session, *element) : windowRect(*context.session);
}

// {"x", "y"} on the screen, or relative to the element's corner when one is named;
// the element's centre when it is named without them.
json mobileTap(CommandContext& context, const json& options) {
  auto element = namedElement(context, options);
  const ElementRect area = areaOf(context, element);
  double x, y;
  if (element && !options.contains("x") && !options.contains("y")) {
    x = area.centreX();
    y = area.centreY();
  } else {
    if (!options.contains("x") || !options.contains("y")) invalid("\"mobile: tap\" needs \"x\" and \"y\" or an element");
    x = area.x + optionalNumber(options, "x", 0);
    y = area.y + optionalNumber(options, "y", 0);
  }
  touchPath(*context.session, {{x, y, 0}});
  return nullptr;
}

json mobileSwipe(CommandContext& context, const json& options) {
  const std::string word = direction(options, "");
  swipe(*context.session, areaOf(context, namedElement(context, options)), word);
  return nullptr;
}

// Scrolling "down" shows what is below: the finger moves up. With "strategy" and
// "selector", scrolls until the element they find is displayed.
json mobileScroll(CommandContext& context, const json& options) {
  const std::string word = direction(options, "down");
  static const std::map<std::string, std::string> kFinger = {
      {"down", "up"}, {"up", "down"}, {"right", "left"}, {"left", "right"}};
  // The area is measured before any find makes the element's ID stale.
  const ElementRect area = areaOf(context, namedElement(context, options));
  auto strategy = options.find("strategy");
  auto selector = options.find("selector");
  if (strategy == options.end() && selector == options.end()) {
    swipe(*context.session, area, kFinger.at(word));
    return nullptr;
  }
  if (strategy == options.end() || !strategy->is_string() || selector == options.end() || !selector->is_string()) {
    invalid("\"mobile: scroll\" needs both \"strategy\" and \"selector\" as strings");
  }
  const qvctl::Request find = findRequest(*strategy, *selector);
  const int most = static_cast<int>(optionalNumber(options, "maxSwipes", kMaxScrolls));
  for (int scrolls = 0;; ++scrolls) {
    for (const auto& id : context.session->find(find)) {
      if (isDisplayed(*context.session, id)) return elementReference(id);
    }
    if (scrolls >= most) break;
    swipe(*context.session, area, kFinger.at(word));
  }
  throw DriverError(ErrorCode::noSuchElement, "no element matching " + strategy->get<std::string>() + " \"" +
                                                  selector->get<std::string>() + "\" showed after " +
                                                  std::to_string(most) + " scrolls");
}

// "text" typed into the named element (tapped first) or the focused field.
json mobileType(CommandContext& context, const json& options) {
  auto text = options.find("text");
  if (text == options.end() || !text->is_string()) invalid("\"mobile: type\" needs \"text\"");
  if (auto element = namedElement(context, options)) {
    const ElementRect r = elementRect(*context.session, *element);
    touchPath(*context.session, {{r.centreX(), r.centreY(), 0}});
  }
  qvctl::Request request;
  request.functionname = "typekeys";
  request.datavalue = typedText(text->get<std::string>(), true);
  if (context.session->play(request) != json::array({{{"output", "true"}}})) {
    throw DriverError(ErrorCode::invalidElementState, "no field has the keyboard focus");
  }
  return nullptr;
}

json executeSync(CommandContext& context) {
  const std::string script = context.stringParameter("script");
  json args = context.body.value("args", json::array());
  if (!args.is_array()) invalid("\"args\" must be a list");

  std::string command = script;
  command.erase(0, command.find_first_not_of(" \t\r\n"));
  command.erase(command.find_last_not_of(" \t\r\n;") + 1);
  command = lowercase(command);
  if (command.starts_with("mobile:")) {
    const json options = args.empty() ? json::object() : args[0];
    if (!options.is_object()) invalid("the argument of a \"mobile:\" command must be an object");
    if (command == "mobile: tap") return mobileTap(context, options);
    if (command == "mobile: swipe") return mobileSwipe(context, options);
    if (command == "mobile: scroll") return mobileScroll(context, options);
    if (command == "mobile: type") return mobileType(context, options);
    throw DriverError(ErrorCode::unsupportedOperation, "\"" + script + "\" is not supported; use mobile: tap, swipe, "
                                                                      "scroll or type");
  }
  const std::string function = scriptFunctionName(script);
  if (function == "isDisplayed" || function == "isElementDisplayed") {
    if (args.empty()) invalid("the script needs the element");
    return elementRoute(context, "/session/:sessionId/element/:elementId/displayed", elementArgument(context, args[0]));
  }
  if (function == "getAttribute" || function == "getElementAttribute") {
    if (args.size() < 2 || !args[1].is_string()) invalid("the script needs the element and an attribute name");
    return elementRoute(context, "/session/:sessionId/element/:elementId/attribute/:name",
                        elementArgument(context, args[0]), {{"name", args[1].get<std::string>()}});
  }
  throw DriverError(ErrorCode::unsupportedOperation,
                    "scripts are not supported: the application has no pages (only the bindings' isDisplayed and "
                    "getAttribute, and mobile: tap, swipe, scroll and type)");
}

}  // namespace

std::vector<Route> scriptCommands() {
  return {
      {"POST", "/session/:sessionId/execute/sync", executeSync},
      {"POST", "/session/:sessionId/execute", executeSync},  // the path of older clients
  };
}

}  // namespace qvdriver
