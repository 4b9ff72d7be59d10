// Commands on one found element: click, typing, clearing, its text, states and
// rectangle.
#include <cstdlib>

#include "ElementRect.h"
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

// The text to type: WebDriver's key codes (U+E000 to U+E05D: modifiers, arrows,
// Enter...) have no text of their own and are left out.
std::string typedText(const std::string& keys) {
  std::string text;
  for (std::size_t i = 0; i < keys.size();) {
    unsigned char lead = static_cast<unsigned char>(keys[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i + length > keys.size()) length = keys.size() - i;
    if (length == 3 && lead == 0xEE) {
      unsigned codePoint = ((lead & 0x0Fu) << 12) | ((static_cast<unsigned char>(keys[i + 1]) & 0x3Fu) << 6) |
                           (static_cast<unsigned char>(keys[i + 2]) & 0x3Fu);
      if (codePoint <= 0xE05D) {
        i += length;
        continue;
      }
    }
    text.append(keys, i, length);
    i += length;
  }
  return text;
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
  playOnElement(context, "sendkeysonelement", typedText(context.stringParameter("text")));
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

}  // namespace

ElementRect elementRect(Session& session, const std::string& elementId) {
  qvctl::Request request;
  request.functionname = "getrect";
  request.accessorvalue = elementId;
  auto reply = session.play(request);
  if (reply.empty()) throw DriverError(ErrorCode::staleElementReference, "the application no longer knows the element");
  const json rectangle = reply[0].is_object() ? reply[0].value("rectangle", json::object()) : json::object();
  return {coordinate(rectangle, "x"), coordinate(rectangle, "y"), coordinate(rectangle, "width"),
          coordinate(rectangle, "height")};
}

namespace {

json rect(CommandContext& context) {
  ElementRect r = elementRect(*context.session, context.element());
  return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

}  // namespace

std::vector<Route> elementCommands() {
  return {
      {"POST", "/session/:sessionId/element/:elementId/click", click},
      {"POST", "/session/:sessionId/element/:elementId/value", sendKeys},
      {"POST", "/session/:sessionId/element/:elementId/clear", clear},
      {"GET", "/session/:sessionId/element/:elementId/text", text},
      {"GET", "/session/:sessionId/element/:elementId/enabled", [](CommandContext& c) -> json { return booleanOutput(c, "isenabled"); }},
      {"GET", "/session/:sessionId/element/:elementId/selected", selected},
      {"GET", "/session/:sessionId/element/:elementId/displayed", [](CommandContext& c) -> json { return booleanOutput(c, "isdisplayed"); }},
      {"GET", "/session/:sessionId/element/:elementId/rect", rect},
  };
}

}  // namespace qvdriver
