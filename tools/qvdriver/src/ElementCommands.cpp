// Commands on one found element: click, typing, clearing, its text, states,
// attributes, properties, class and rectangle.
#include <cstdlib>

#include "AgentQueries.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

json playOnElement(CommandContext& context, const char* function, std::optional<std::string> data = std::nullopt) {
  qvctl::Request request;
  request.functionname = function;
  request.accessorvalue = context.element();
  request.datavalue = std::move(data);
  return context.session->play(request);
}

// The "output" of a query's reply; absent for an empty reply.
std::optional<std::string> output(const json& reply) {
  if (reply.empty()) return std::nullopt;
  const json& entry = reply[0];
  if (!entry.is_object() || !entry.contains("output") || !entry["output"].is_string()) {
    throw DriverError(ErrorCode::unknownError, "the agent's reply has no output: " + reply.dump());
  }
  return entry["output"].get<std::string>();
}

// A query the agent answers for every element it knows: an empty reply means it no
// longer knows this one.
std::string requiredOutput(CommandContext& context, const char* function) {
  auto value = output(playOnElement(context, function));
  if (!value) throw DriverError(ErrorCode::staleElementReference, "the application no longer knows the element");
  return *value;
}

bool booleanOutput(CommandContext& context, const char* function) {
  return requiredOutput(context, function) == "true";
}

double coordinate(const json& rectangle, const char* name) {
  auto it = rectangle.find(name);
  if (it == rectangle.end() || !it->is_string()) {
    throw DriverError(ErrorCode::unknownError, std::string("the agent's rectangle has no \"") + name + "\"");
  }
  return std::strtod(it->get<std::string>().c_str(), nullptr);
}

json click(CommandContext& context) {
  playOnElement(context, "clickelement");
  return nullptr;
}

json sendKeys(CommandContext& context) {
  // Typing replaces the field's text: the agent sets the whole text at once.
  playOnElement(context, "sendkeysonelement", typedText(context.stringParameter("text"), false));
  return nullptr;
}

json clear(CommandContext& context) {
  playOnElement(context, "sendkeysonelement", std::string());
  return nullptr;
}

json text(CommandContext& context) { return requiredOutput(context, "gettext"); }

json selected(CommandContext& context) {
  // Only switches have a selected state; the agent answers nothing for other views.
  return output(playOnElement(context, "isselected")).value_or("false") == "true";
}

// "label", "identifier" or "class" of the element; null when it has none.
json agentAttribute(CommandContext& context, const char* name) {
  const json reply = playOnElement(context, "getattribute", std::string(name));
  if (reply.empty()) throw DriverError(ErrorCode::staleElementReference, "the application no longer knows the element");
  const json& value = reply[0].is_object() ? reply[0].value("output", json()) : json();
  if (!value.is_null() && !value.is_string()) {
    throw DriverError(ErrorCode::unknownError, "the agent's reply has no output: " + reply.dump());
  }
  return value;
}

json rectObject(const ElementRect& r) { return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

// An element's value by attribute or property name, as the application has it:
// texts as strings, states as booleans, the rectangle as an object; null for a
// name it has no value for.
json elementValue(CommandContext& context, const std::string& name) {
  if (name == "value" || name == "text") return requiredOutput(context, "gettext");
  if (name == "name" || name == "label") return agentAttribute(context, "label");
  if (name == "id" || name == "identifier") return agentAttribute(context, "identifier");
  if (name == "class" || name == "className" || name == "type") return agentAttribute(context, "class");
  if (name == "enabled") return booleanOutput(context, "isenabled");
  if (name == "selected" || name == "checked") return selected(context);
  if (name == "displayed" || name == "visible") return isDisplayed(*context.session, context.element());
  if (name == "rect") return rectObject(elementRect(*context.session, context.element()));
  context.element();  // an unknown name of a known element is null; of an unknown one, an error
  return nullptr;
}

// Attributes are texts, as markup attributes are: "true"/"false", the rectangle
// as JSON text.
json attribute(CommandContext& context) {
  json value = elementValue(context, context.params["name"]);
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  if (value.is_object()) return value.dump();
  return value;
}

json property(CommandContext& context) { return elementValue(context, context.params["name"]); }

}  // namespace

namespace {

ElementRect rectangleOf(Session& session, const char* function, const std::string& elementId) {
  qvctl::Request request;
  request.functionname = function;
  request.accessorvalue = elementId;
  auto reply = session.play(request);
  if (reply.empty()) throw DriverError(ErrorCode::staleElementReference, "the application no longer knows the element");
  const json rectangle = reply[0].is_object() ? reply[0].value("rectangle", json::object()) : json::object();
  return {coordinate(rectangle, "x"), coordinate(rectangle, "y"), coordinate(rectangle, "width"),
          coordinate(rectangle, "height")};
}

json rect(CommandContext& context) { return rectObject(elementRect(*context.session, context.element())); }

json displayed(CommandContext& context) { return isDisplayed(*context.session, context.element()); }

}  // namespace

std::string typedText(const std::string& keys, bool deleteBefore) {
  constexpr unsigned kBackspace = 0xE003, kLastKeyCode = 0xE05D;
  std::string text;
  std::size_t typed = 0;  // characters of `text` that a backspace may take back
  for (std::size_t i = 0; i < keys.size();) {
    unsigned char lead = static_cast<unsigned char>(keys[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i + length > keys.size()) length = keys.size() - i;
    if (length == 3 && lead == 0xEE) {
      unsigned codePoint = ((lead & 0x0Fu) << 12) | ((static_cast<unsigned char>(keys[i + 1]) & 0x3Fu) << 6) |
                           (static_cast<unsigned char>(keys[i + 2]) & 0x3Fu);
      if (codePoint == kBackspace) {
        if (typed > 0) {
          std::size_t end = text.size() - 1;
          while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
          text.erase(end);
          --typed;
        } else if (deleteBefore) {
          text += '\b';
        }
      }
      if (codePoint <= kLastKeyCode) {
        i += length;
        continue;
      }
    }
    text.append(keys, i, length);
    ++typed;
    i += length;
  }
  return text;
}

ElementRect elementRect(Session& session, const std::string& elementId) {
  return rectangleOf(session, "getrect", elementId);
}

ElementRect windowRect(Session& session) {
  try {
    return rectangleOf(session, "getwindowrect", "");
  } catch (const DriverError& e) {
    if (e.code() != ErrorCode::staleElementReference) throw;
    throw DriverError(ErrorCode::unknownError, "the application shows no window");
  }
}

bool isDisplayed(Session& session, const std::string& elementId) {
  const ElementRect element = elementRect(session, elementId);
  return element.width > 0 && element.height > 0 && element.overlaps(windowRect(session));
}

void touchPath(Session& session, const std::vector<std::array<double, 3>>& points) {
  qvctl::Request request;
  request.functionname = "touchpath";
  request.datavalue = json(points).dump();
  if (session.play(request) != json::array({{{"output", "true"}}})) {
    throw DriverError(ErrorCode::unknownError, "the application did not take the touches");
  }
}

std::vector<Route> elementCommands() {
  return {
      {"POST", "/session/:sessionId/element/:elementId/click", click},
      {"POST", "/session/:sessionId/element/:elementId/value", sendKeys},
      {"POST", "/session/:sessionId/element/:elementId/clear", clear},
      {"GET", "/session/:sessionId/element/:elementId/text", text},
      {"GET", "/session/:sessionId/element/:elementId/enabled", [](CommandContext& c) -> json { return booleanOutput(c, "isenabled"); }},
      {"GET", "/session/:sessionId/element/:elementId/selected", selected},
      {"GET", "/session/:sessionId/element/:elementId/displayed", displayed},
      {"GET", "/session/:sessionId/element/:elementId/rect", rect},
      {"GET", "/session/:sessionId/element/:elementId/attribute/:name", attribute},
      {"GET", "/session/:sessionId/element/:elementId/property/:name", property},
      {"GET", "/session/:sessionId/element/:elementId/name", [](CommandContext& c) { return agentAttribute(c, "class"); }},
  };
}

}  // namespace qvdriver
