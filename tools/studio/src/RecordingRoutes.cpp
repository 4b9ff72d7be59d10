// The recording session: the page's state (long-polled), spy mode and highlights,
// the recording as a JSON Lines download or as a test of its own, a saved one opened again, and edits.
#include <algorithm>
#include <optional>
#include <string>

#include "Routes.h"

namespace studio {

namespace {

std::uint64_t numberParam(const httplib::Request& request, const char* name) {
  if (!request.has_param(name)) return 0;
  const std::string text = request.get_param_value(name);
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      text.size() > 18) {
    throw Failure(FailureKind::invalidArgument, std::string("\"") + name + "\" must be a whole number");
  }
  return std::stoull(text);
}

// The body's "index": the position of a step or of a spy list entry.
std::size_t indexIn(const nlohmann::json& body) {
  auto index = body.find("index");
  if (index == body.end() || !index->is_number_unsigned()) {
    throw Failure(FailureKind::invalidArgument, "\"index\" must be a whole number");
  }
  return index->get<std::size_t>();
}

// A text of the body; `fallback` when it is absent, or a refusal when there is none.
std::string textIn(const nlohmann::json& body, const char* key, const std::optional<std::string>& fallback = {}) {
  auto text = body.find(key);
  if (text == body.end() && fallback) return *fallback;
  if (text == body.end() || !text->is_string()) {
    throw Failure(FailureKind::invalidArgument, std::string("\"") + key + "\" must be a text");
  }
  return text->get<std::string>();
}

}  // namespace

std::vector<Route> recordingRoutes() {
  return {
      {"GET", "/api/state",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         // Answers at once when something changed after "since", else within 10 s.
         auto wait = request.has_param("since") ? std::chrono::milliseconds(10000) : std::chrono::milliseconds(0);
         replyJson(response, studio.state(numberParam(request, "since"), numberParam(request, "steps"),
                                          numberParam(request, "list"), wait));
       }},
      {"POST", "/api/spy",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         auto on = body.find("on");
         if (on == body.end() || !on->is_boolean()) throw Failure(FailureKind::invalidArgument, "\"on\" must be true or false");
         studio.sendRecorderCommand(on->get<bool>() ? "startobjectspy" : "stopobjectspy");
         replyJson(response, {{"spy", on->get<bool>()}});
       }},
      {"POST", "/api/highlight",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         studio.highlight(indexIn(jsonBody(request)));
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/assert",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         studio.addAssertion(indexIn(body), textIn(body, "kind"));
         replyJson(response, nlohmann::json::object());
       }},
      {"GET", "/api/recording.jsonl",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         response.set_header("Content-Disposition", "attachment; filename=\"recording.jsonl\"");
         response.set_header("Cache-Control", "no-store");
         response.set_content(studio.recordingText(), "application/x-ndjson");
       }},
      {"GET", "/api/export",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         const std::string to = request.get_param_value("to");
         const auto language = qvctl::exportLanguageNamed(to);
         if (!language) throw Failure(FailureKind::invalidArgument, "\"to\" must be webdriverio or python");
         const bool python = *language == qvctl::ExportLanguage::python;
         const std::string test = studio.exportedTest(*language);
         response.set_header("Content-Disposition", python ? "attachment; filename=\"recording_test.py\""
                                                           : "attachment; filename=\"recording.test.mjs\"");
         response.set_header("Cache-Control", "no-store");
         response.set_content(test, python ? "text/x-python; charset=utf-8" : "text/javascript; charset=utf-8");
       }},
      {"POST", "/api/clear",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         studio.clearSteps();
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/open",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         std::string name = textIn(body, "name", "");
         studio.openRecording(textIn(body, "text"), name.empty() ? "recording" : name);
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/edit",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         studio.editStep(indexIn(body), textIn(body, "edit"), textIn(body, "text", ""));
         replyJson(response, nlohmann::json::object());
       }},
  };
}

}  // namespace studio
