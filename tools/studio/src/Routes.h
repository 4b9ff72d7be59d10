// The studio's HTTP routes as plain values: a method, a path pattern and a
// handler. Each command group (screen, recording, replay, application) returns its
// list; one
// function registers them all, with the request log, the error table and a
// catch-all for unknown routes. Who may send requests, and how large and slow they
// may be, is the guard's (httpguard).
#pragma once

#include <httplib.h>

#include "httpguard/HttpGuard.h"

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
std::vector<Route> applicationRoutes();

// The request's JSON body; Failure (invalid argument) when it is not a JSON object.
nlohmann::json jsonBody(const httplib::Request& request);
void replyJson(httplib::Response& response, const nlohmann::json& body);

// The guard's rules for the studio (body cap, read timeout) and its refusals,
// answered as the studio's JSON errors.
httpguard::Options guardOptions();

// Sets up `server`: the web folder mounted at "/", every route, and the hooks.
void configureServer(httpguard::Server& server, Studio& studio, const std::string& webDir);

}  // namespace studio
