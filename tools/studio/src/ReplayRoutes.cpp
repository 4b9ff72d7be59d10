// Replay of the recording against the application; results arrive in the state.
#include "Routes.h"

namespace studio {

std::vector<Route> replayRoutes() {
  return {
      {"POST", "/api/replay",
       [](Studio& studio, const httplib::Request&, httplib::Response& response) {
         studio.startReplay();
         response.status = 202;
         replyJson(response, {{"replay", "started"}});
       }},
  };
}

}  // namespace studio
