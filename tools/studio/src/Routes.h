// The studio's HTTP routes as plain values: a method, a path pattern and a
// handler. Each command group (screen, recording, replay) returns its list; one
// function registers them all, with the origin check, the request log, the error
// table and a catch-all for unknown routes.
#pragma once

#include <httplib.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Studio.h"

namespace studio {

struct Route {
  const char* method;  // "GET" or "POST"
  const char* pattern;
  std::function<void(Studio&, const httplib::Request&, httplib::Response&)> handler;
};

std::vector<Route> screenRoutes();
std::vector<Route> recordingRoutes();
std::vector<Route> replayRoutes();

// The request's JSON body; Failure (invalid argument) when it is not a JSON object.
nlohmann::json jsonBody(const httplib::Request& request);
void replyJson(httplib::Response& response, const nlohmann::json& body);

// Where the studio listens, as the page's Host and Origin headers must name it.
struct Address {
  std::string host;
  int port = 0;
};

// The accepted values of the Host header for a server at `address`.
std::vector<std::string> acceptedHosts(const Address& address);
// True when a request with these headers comes from the studio's own page (or a
// tool that is no browser page): Host names the studio, and an Origin, when there
// is one, is the studio's own.
bool fromOwnOrigin(const std::vector<std::string>& accepted, const std::string& host, const std::string* origin);

// Sets up `server`: the web folder mounted at "/", every route, and the hooks.
void configureServer(httplib::Server& server, Studio& studio, const Address& address, const std::string& webDir);

}  // namespace studio
