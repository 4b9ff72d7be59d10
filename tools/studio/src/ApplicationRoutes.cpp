// The application the studio runs (qvstudio --app): started again as it is, or for
// a new recording, since a replay ends the recorder session of a run.
#include "Routes.h"

namespace studio {

std::vector<Route> applicationRoutes() {
  return {
      {"POST", "/api/restart",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         studio.restartApplication(false);
         replyJson(response, nlohmann::json::object());
       }},
      {"POST", "/api/record-again",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         studio.restartApplication(true);
         replyJson(response, nlohmann::json::object());
       }},
  };
}

}  // namespace studio
