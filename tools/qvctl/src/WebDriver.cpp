#include "qvctl/WebDriver.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>

namespace qvctl {

namespace {

using nlohmann::json;

constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";
// A hub holds a new session request until one of its devices is free.
constexpr std::chrono::minutes kNewSessionWait{5};

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// An attribute value of the page source with its references resolved.
std::string xmlText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto end = text[i] == '&' ? text.find(';', i) : std::string::npos;
    if (end == std::string::npos) {
      out += text[i];
      continue;
    }
    const std::string name = text.substr(i + 1, end - i - 1);
    static const std::pair<const char*, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    bool known = false;
    for (const auto& [word, c] : kNamed) {
      if (name == word) out += c, known = true;
    }
    if (!known && name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const unsigned long code = std::strtoul(name.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10);
      if (code < 0x80) out += static_cast<char>(code), known = true;
    }
    if (!known) out += text.substr(i, end - i + 1);
    i = end;
  }
  return out;
}

// The elements of a page source as the agent's screen list gives them (class,
// text, rectangle), of one class unless `className` is empty.
json screenList(const std::string& source, const std::string& className) {
  static const std::regex kElement(
      R"re(<[^\s/>]+ class="([^"]*)" text="([^"]*)" enabled="[^"]*" x="([^"]*)" y="([^"]*)" width="([^"]*)" height="([^"]*)")re");
  json list = json::array();
  const std::string wanted = lowered(className);
  for (auto it = std::sregex_iterator(source.begin(), source.end(), kElement); it != std::sregex_iterator(); ++it) {
    const auto& m = *it;
    const std::string type = xmlText(m[1]);
    if (!wanted.empty() && lowered(type) != wanted) continue;
    list.push_back({{"elementType", type},
                    {"text", xmlText(m[2])},
                    {"rectangle", {{"x", m[3]}, {"y", m[4]}, {"width", m[5]}, {"height", m[6]}}}});
  }
  return list;
}

std::string output(const std::string& text) { return json::array({{{"output", text}}}).dump(); }

std::string boolOutput(const json& value) {
  if (!value.is_boolean()) throw Error("the WebDriver endpoint's answer is not true or false: " + value.dump());
  return output(value.get<bool>() ? "true" : "false");
}

}  // namespace

std::string sessionCapabilities(const std::string& capabilities) {
  json wanted = {{"platformName", "quorvel"}};
  if (!capabilities.empty()) {
    json given = json::parse(capabilities, nullptr, false);
    if (given.is_discarded() || !given.is_object()) throw Error("the capabilities are not a JSON object: " + capabilities);
    wanted.update(given);
  }
  return wanted.dump();
}

struct WebDriverSession::Http {
  CURL* curl = nullptr;
  std::string received;

  Http() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    curl = curl_easy_init();
    if (!curl) throw Error("cannot start an HTTP client");
  }
  ~Http() { curl_easy_cleanup(curl); }

  static std::size_t collect(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<Http*>(self)->received.append(data, size * count);
    return size * count;
  }

  // The "value" of the endpoint's answer; throws Error for an unreachable
  // endpoint, an answer that is not WebDriver's, or a WebDriver error.
  json ask(const char* method, const std::string& url, const std::optional<json>& body,
           std::chrono::milliseconds timeout) {
    received.clear();
    curl_easy_reset(curl);
    const std::string payload = body ? body->dump(-1, ' ', false, json::error_handler_t::replace) : std::string();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (body) {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Http::collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    if (code != CURLE_OK) throw Error(std::string(method) + " " + url + ": " + curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    json answer = json::parse(received, nullptr, false);
    if (answer.is_discarded() || !answer.is_object() || !answer.contains("value")) {
      throw Error(std::string(method) + " " + url + " answered " + std::to_string(status) + ": " +
                  received.substr(0, 200));
    }
    json value = std::move(answer["value"]);
    if (value.is_object() && value.contains("error")) {
      throw Error("the WebDriver endpoint answered " + value["error"].dump() + ": " +
                  (value.value("message", json("")).is_string() ? value.value("message", std::string())
                                                                   : value["message"].dump()));
    }
    if (status < 200 || status >= 300) {
      throw Error(std::string(method) + " " + url + " answered " + std::to_string(status));
    }
    return value;
  }
};

WebDriverSession::WebDriverSession(std::string url, const std::string& capabilities,
                                   std::chrono::milliseconds timeout)
    : url_(std::move(url)), timeout_(timeout), http_(std::make_unique<Http>()) {
  while (!url_.empty() && url_.back() == '/') url_.pop_back();
  capabilities_ = sessionCapabilities(capabilities);
}

WebDriverSession::~WebDriverSession() { close(); }

void WebDriverSession::open() {
  if (!sessionId_.empty()) return;
  const json body = {{"capabilities", {{"alwaysMatch", json::parse(capabilities_)}}}};
  json value = http_->ask("POST", url_ + "/session", body, std::max<std::chrono::milliseconds>(timeout_, kNewSessionWait));
  if (!value.is_object() || !value.contains("sessionId") || !value["sessionId"].is_string()) {
    throw Error("the WebDriver endpoint made no session: " + value.dump().substr(0, 200));
  }
  sessionId_ = value["sessionId"].get<std::string>();
}

void WebDriverSession::close() {
  if (sessionId_.empty()) return;
  const std::string id = std::exchange(sessionId_, std::string());
  try {
    http_->ask("DELETE", url_ + "/session/" + id, std::nullopt, timeout_);
  } catch (const Error&) {
    // Gone already (ended by its idle timeout, or the endpoint stopped).
  }
}

std::string WebDriverSession::play(const Request& request) {
  open();
  const std::string session = url_ + "/session/" + sessionId_;
  const std::string function = request.functionname.value_or("");
  const std::string element = session + "/element/" + request.accessorvalue.value_or("");
  auto get = [&](const std::string& url) { return http_->ask("GET", url, std::nullopt, timeout_); };
  auto post = [&](const std::string& url, const json& body) { return http_->ask("POST", url, body, timeout_); };

  if (function == "findelements") {
    const std::string type = request.accessortype.value_or("");
    const std::string className = request.tagname.value_or("");
    json locator;
    if (type.empty()) {
      locator = {{"using", "class name"}, {"value", className}};
    } else if (type == "xpath" || type == "text" || type == "partialtext") {
      const char* strategy = type == "xpath" ? "xpath" : type == "text" ? "link text" : "partial link text";
      locator = {{"using", strategy}, {"value", request.accessorvalue.value_or("")}};
    } else {
      throw Error("no WebDriver locator for \"" + type + "\"");
    }
    json found = post(session + "/elements", locator);
    json ids = json::array();
    if (!found.is_array()) throw Error("the WebDriver endpoint's elements are not a list: " + found.dump());
    for (const auto& reference : found) {
      if (!reference.is_object() || !reference.contains(kElementKey)) continue;
      const std::string id = reference[kElementKey].get<std::string>();
      // The locators other than the class's own do not filter by class.
      if (!type.empty() && !className.empty()) {
        const json name = get(session + "/element/" + id + "/name");
        if (!name.is_string() || lowered(name.get<std::string>()) != lowered(className)) continue;
      }
      ids.push_back({{"elementID", id}});
    }
    return ids.dump();
  }
  if (function == "gettext") {
    const json text = get(element + "/text");
    return output(text.is_string() ? text.get<std::string>() : std::string());
  }
  if (function == "isdisplayed") return boolOutput(get(element + "/displayed"));
  if (function == "isenabled") return boolOutput(get(element + "/enabled"));
  if (function == "isselected") return boolOutput(get(element + "/selected"));
  if (function == "clickelement") {
    post(element + "/click", json::object());
    return "[]";
  }
  if (function == "sendkeysonelement") {
    post(element + "/value", {{"text", request.datavalue.value_or("")}});
    return "[]";
  }
  if (function == "ai_findelements") {
    const json source = get(session + "/source");
    if (!source.is_string()) throw Error("the WebDriver endpoint's page source is not a text");
    return screenList(source.get<std::string>(), request.tagname.value_or("")).dump();
  }
  if (function == "swipeon" && request.accessorvalue.value_or("").empty()) {
    // A finger across the screen.
    post(session + "/execute/sync",
         {{"script", "mobile: swipe"}, {"args", json::array({{{"direction", request.datavalue.value_or("up")}}})}});
    return "[]";
  }
  throw Error("\"" + function + "\" is not played through WebDriver");
}

}  // namespace qvctl
