// Find Element(s), from the session's screen and from an element. Locator
// strategies become the agent's accessor types; the class strategies filter by
// class name instead.
#include <cctype>
#include <optional>
#include <string_view>
#include <tuple>

#include "AgentQueries.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

void appendUtf8(std::string& out, unsigned long codePoint) {
  if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) codePoint = 0xFFFD;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A CSS identifier or string body with its escapes resolved (" 0" is "10",
// "\:" is ":"); absent when an unescaped character of `stop` occurs.
std::optional<std::string> unescapeCss(std::string_view text, std::string_view stop) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      std::size_t digits = 0;
      while (digits < 6 && i + 1 + digits < text.size() && isHex(text[i + 1 + digits])) ++digits;
      if (digits == 0) {
        out += text[++i];
        continue;
      }
      appendUtf8(out, std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16));
      i += digits;
      if (i + 1 < text.size() && text[i + 1] == ' ') ++i;  // the space that ends a hex escape
    } else if (stop.find(text[i]) != std::string_view::npos) {
      return std::nullopt;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The CSS selectors the language bindings make of their "by id" and "by class
// name" locators: "#id", "*[id=\"id\"]" and "[id='id']" find by accessibility
// identifier; ".Class" and a bare "Class" find by class.
std::optional<std::pair<std::string, std::string>> cssLocator(std::string css) {
  const auto first = css.find_first_not_of(" \t\n");
  if (first == std::string::npos) return std::nullopt;
  css = css.substr(first, css.find_last_not_of(" \t\n") - first + 1);
  constexpr std::string_view kCombinators = " >+~,.#[]:*()=\"'";
  if (css[0] == '#') {
    if (auto id = unescapeCss(std::string_view(css).substr(1), kCombinators); id && !id->empty()) {
      return std::pair{std::string("accessibility id"), *id};
    }
    return std::nullopt;
  }
  if (css[0] == '.') {
    if (auto name = unescapeCss(std::string_view(css).substr(1), kCombinators); name && !name->empty()) {
      return std::pair{std::string("class name"), *name};
    }
    return std::nullopt;
  }
  std::string_view rest = css;
  if (rest.starts_with('*')) rest.remove_prefix(1);
  if (rest.starts_with("[id=") && rest.size() >= 7 && rest.back() == ']') {
    std::string_view quoted = rest.substr(4, rest.size() - 5);
    const char quote = quoted.front();
    if ((quote == '"' || quote == '\'') && quoted.size() >= 2 && quoted.back() == quote) {
      if (auto id = unescapeCss(quoted.substr(1, quoted.size() - 2), std::string_view(&quote, 1)); id && !id->empty()) {
        return std::pair{std::string("accessibility id"), *id};
      }
    }
    return std::nullopt;
  }
  if (auto name = unescapeCss(css, kCombinators); name && !name->empty() && rest.size() == css.size()) {
    return std::pair{std::string("tag name"), *name};
  }
  return std::nullopt;
}

// Whether an XPath can be parsed at all: not empty, its quotes closed, its
// brackets and parentheses matched outside quotes, no empty predicate, and not
// ending in a step separator or an operator.
bool wellFormedXPath(std::string_view xpath) {
  const auto last = xpath.find_last_not_of(" \t\n");
  if (last == std::string_view::npos) return false;
  if (std::string_view("/\\[(@|=,").find(xpath[last]) != std::string_view::npos) return false;
  std::string open;
  char quote = 0;
  char previous = 0;
  for (char c : xpath) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[' || c == '(') {
      open += c;
    } else if (c == ']' || c == ')') {
      if (open.empty() || open.back() != (c == ']' ? '[' : '(')) return false;
      if (c == ']' && previous == '[') return false;
      open.pop_back();
    }
    if (c != ' ') previous = c;
  }
  return quote == 0 && open.empty();
}

}  // namespace

qvctl::Request findRequest(std::string strategy, std::string value) {
  if (strategy == "css selector") {
    auto locator = cssLocator(value);
    if (!locator) {
      throw DriverError(ErrorCode::invalidSelector,
                        "CSS selector \"" + value + "\" cannot be used; only \"#id\", \"[id='id']\", \".Class\" and \"Class\"");
    }
    std::tie(strategy, value) = *locator;
  }
  if (strategy == "xpath" && !wellFormedXPath(value)) {
    throw DriverError(ErrorCode::invalidSelector, "XPath \"" + value + "\" cannot be parsed");
  }
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
                          "\"; use xpath, link text, partial link text, class name, tag name, accessibility id or css selector");
  }
  return request;
}

namespace {

std::vector<std::string> find(CommandContext& context, bool fromElement) {
  qvctl::Request request = findRequest(context.stringParameter("using"), context.stringParameter("value"));
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
