// WebDriver commands that exist in the protocol but have nothing to act on in an
// application without pages, windows of its own, scripts or cookies: they answer
// "unsupported operation" rather than "unknown command". (Scripts run synchronously
// are read for the few the clients send themselves; see ScriptCommands.)
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

std::vector<Route> unsupportedCommands() {
  static const std::pair<const char*, const char*> kCommands[] = {
      {"POST", "url"}, {"GET", "url"}, {"POST", "back"}, {"POST", "forward"}, {"POST", "refresh"},
      {"GET", "title"}, {"DELETE", "window"}, {"POST", "window"}, {"POST", "window/new"},
      {"POST", "frame"}, {"POST", "frame/parent"}, {"POST", "window/rect"}, {"POST", "window/maximize"}, {"POST", "window/minimize"},
      {"POST", "window/fullscreen"}, {"GET", "element/active"}, {"GET", "element/:elementId/shadow"},
      {"POST", "shadow/:shadowId/element"}, {"POST", "shadow/:shadowId/elements"},
      {"GET", "element/:elementId/css/:propertyName"}, {"GET", "element/:elementId/computedrole"}, {"GET", "element/:elementId/computedlabel"},
      {"POST", "execute/async"},
      {"GET", "cookie"}, {"GET", "cookie/:name"}, {"POST", "cookie"}, {"DELETE", "cookie/:name"},
      {"DELETE", "cookie"}, {"POST", "alert/dismiss"}, {"POST", "alert/accept"}, {"GET", "alert/text"},
      {"POST", "alert/text"}, {"POST", "print"},
  };
  std::vector<Route> routes;
  for (const auto& [method, path] : kCommands) {
    const std::string name = std::string(method) + " " + path;
    routes.push_back({method, std::string("/session/:sessionId/") + path, [name](CommandContext&) -> nlohmann::json {
                        throw DriverError(ErrorCode::unsupportedOperation,
                                          "\"" + name + "\" is not supported: the application has no pages, "
                                          "browser windows, scripts or cookies");
                      }});
  }
  return routes;
}

}  // namespace qvdriver
