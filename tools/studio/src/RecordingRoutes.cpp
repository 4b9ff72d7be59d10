// The recording session: the page's state (long-polled), spy mode and highlights,
// the recording as a JSON Lines download, a saved one opened again, and edits.
#include <algorithm>

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
         auto body = jsonBody(request);
         auto index = body.find("index");
         if (index == body.end() || !index->is_number_unsigned()) {
           throw Failure(FailureKind::invalidArgument, "\"index\" must be a whole number");
         }
         studio.highlight(index->get<std::size_t>());
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/assert",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         auto index = body.find("index");
         auto kind = body.find("kind");
         if (index == body.end() || !index->is_number_unsigned() || kind == body.end() || !kind->is_string()) {
           throw Failure(FailureKind::invalidArgument, "\"index\" (a whole number) and \"kind\" are needed");
         }
         studio.addAssertion(index->get<std::size_t>(), kind->get<std::string>());
         replyJson(response, nlohmann::json::object());
       }},
      {"GET", "/api/recording.jsonl",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         response.set_header("Content-Disposition", "attachment; filename=\"recording.jsonl\"");
         response.set_header("Cache-Control", "no-store");
         response.set_content(studio.recordingText(), "application/x-ndjson");
       }},
      {"POST", "/api/clear",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         studio.clearSteps();
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/open",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         auto text = body.find("text");
         if (text == body.end() || !text->is_string()) throw Failure(FailureKind::invalidArgument, "\"text\" is needed");
         std::string name = body.value("name", "recording");
         if (name.empty()) name = "recording";
         studio.openRecording(text->get<std::string>(), name);
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/edit",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         auto index = body.find("index");
         auto edit = body.find("edit");
         auto text = body.find("text");
         if (index == body.end() || !index->is_number_unsigned() || edit == body.end() || !edit->is_string() ||
             (text != body.end() && !text->is_string())) {
           throw Failure(FailureKind::invalidArgument, "\"index\" (a whole number) and \"edit\" are needed");
         }
         studio.editStep(index->get<std::size_t>(), edit->get<std::string>(),
                         text == body.end() ? "" : text->get<std::string>());
         replyJson(response, nlohmann::json::object());
       }},
  };
}

}  // namespace studio
