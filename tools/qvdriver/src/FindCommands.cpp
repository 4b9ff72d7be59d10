// Find Element(s), from the session's screen and from an element. Locator
// strategies become the agent's accessor types; the class strategies filter by
// class name instead.
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

qvctl::Request findRequest(const CommandContext& context) {
  const std::string strategy = context.stringParameter("using");
  const std::string value = context.stringParameter("value");
  qvctl::Request request;
  request.functionname = "findelements";
  request.tagname = "";
  request.accessorvalue = value;
  if (strategy == "xpath") {
    request.accessortype = "xpath";  // the position xpath, "\UIView[0]\UIButton[1]"
  } else if (strategy == "link text") {
    request.accessortype = "text";
  } else if (strategy == "partial link text") {
    request.accessortype = "partialtext";
  } else if (strategy == "accessibility id" || strategy == "id") {
    request.accessortype = "accessibilityid";
  } else if (strategy == "class name" || strategy == "tag name") {
    // An empty class would be no filter at all.
    if (value.empty()) throw DriverError(ErrorCode::invalidArgument, "\"" + strategy + "\" needs a class name");
    request.accessortype = "";
    request.tagname = value;
    request.accessorvalue = "";
  } else {
    throw DriverError(ErrorCode::invalidArgument,
                      "unsupported locator strategy \"" + strategy +
                          "\"; use xpath, link text, partial link text, class name, tag name or accessibility id");
  }
  return request;
}

std::vector<std::string> find(CommandContext& context, bool fromElement) {
  qvctl::Request request = findRequest(context);
  if (fromElement) {
    request.functionname = "findelementsinsideelement";
    request.datavalue = context.element();
  }
  return context.session->find(request);
}

nlohmann::json first(CommandContext& context, bool fromElement) {
  auto ids = find(context, fromElement);
  if (ids.empty()) {
    throw DriverError(ErrorCode::noSuchElement, "no element matches " + context.body["using"].get<std::string>() +
                                                    " \"" + context.body["value"].get<std::string>() + "\"");
  }
  return elementReference(ids.front());
}

nlohmann::json all(CommandContext& context, bool fromElement) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& id : find(context, fromElement)) list.push_back(elementReference(id));
  return list;
}

}  // namespace

std::vector<Route> findCommands() {
  return {
      {"POST", "/session/:sessionId/element", [](CommandContext& c) { return first(c, false); }},
      {"POST", "/session/:sessionId/elements", [](CommandContext& c) { return all(c, false); }},
      {"POST", "/session/:sessionId/element/:elementId/element", [](CommandContext& c) { return first(c, true); }},
      {"POST", "/session/:sessionId/element/:elementId/elements", [](CommandContext& c) { return all(c, true); }},
  };
}

}  // namespace qvdriver
