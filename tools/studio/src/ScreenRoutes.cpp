// The device screen and the person's hands: the screen image, taps, swipes and
// typing, all through the device input.
#include <cmath>
#include <cstdio>

#include "Routes.h"

namespace studio {

namespace {

double coordinate(const nlohmann::json& body, const char* key) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_number() || !std::isfinite(it->get<double>())) {
    throw Failure(FailureKind::invalidArgument, std::string("\"") + key + "\" must be a number");
  }
  return it->get<double>();
}

std::string point(double x, double y) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %.1f", x, y);
  return text;
}

}  // namespace

std::vector<Route> screenRoutes() {
  return {
      {"GET", "/api/screen.png",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         auto png = studio.screenPNG();
         if (!png) throw Failure(FailureKind::unavailable, "no screen image yet");
         response.set_header("Cache-Control", "no-store");
         response.set_content(*png, "image/png");
       }},
      {"POST", "/api/tap",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         replyJson(response, {{"answer", studio.device("tap " + point(coordinate(body, "x"), coordinate(body, "y")))}});
       }},
      {"POST", "/api/swipe",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         std::string line = "swipe " + point(coordinate(body, "x1"), coordinate(body, "y1")) + " " +
                            point(coordinate(body, "x2"), coordinate(body, "y2"));
         replyJson(response, {{"answer", studio.device(line)}});
       }},
      {"POST", "/api/type",
       [](Studio& studio, const httplib::Request& request, httplib::Response& response) {
         auto body = jsonBody(request);
         auto text = body.find("text");
         if (text == body.end() || !text->is_string() || text->get<std::string>().empty()) {
           throw Failure(FailureKind::invalidArgument, "\"text\" must be a non-empty text");
         }
         replyJson(response, {{"answer", studio.device(qvctl::DeviceInput::typeCommand(text->get<std::string>()))}});
       }},
  };
}

}  // namespace studio
