#include "Routes.h"

#include <chrono>
#include <cstdio>

#include "qvctl/Frame.h"

namespace studio {

namespace {

using nlohmann::json;

// One table of errors: the word the page sees, its HTTP status, a default message.
struct ErrorInfo {
  const char* word;
  int status;
  const char* message;
};

enum class ErrorWord { invalidArgument, forbidden, unknownRoute, conflict, unavailable, deviceError, internal };

constexpr ErrorInfo kErrors[] = {
    {"invalid argument", 400, "the request is not understood"},
    {"forbidden origin", 403, "requests are taken only from the studio's own page"},
    {"unknown route", 404, "no such route"},
    {"conflict", 409, "not possible now"},
    {"agent unavailable", 503, "the agent or the device cannot be reached"},
    {"device error", 502, "the device refused the command"},
    {"internal error", 500, "the studio failed"},
};

void replyError(httplib::Response& response, ErrorWord word, const std::string& message = "") {
  const ErrorInfo& info = kErrors[static_cast<int>(word)];
  response.status = info.status;
  replyJson(response, {{"error", info.word}, {"message", message.empty() ? info.message : message}});
}

ErrorWord wordOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::invalidArgument:
      return ErrorWord::invalidArgument;
    case FailureKind::conflict:
      return ErrorWord::conflict;
    case FailureKind::unavailable:
      return ErrorWord::unavailable;
    case FailureKind::deviceError:
      return ErrorWord::deviceError;
  }
  return ErrorWord::internal;
}

// Maps whatever a handler threw onto the error table.
void replyFailure(httplib::Response& response, std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Failure& f) {
    replyError(response, wordOf(f.kind), f.what());
  } catch (const json::exception& e) {
    replyError(response, ErrorWord::invalidArgument, e.what());
  } catch (const qvctl::Error& e) {
    replyError(response, ErrorWord::unavailable, e.what());
  } catch (const std::exception& e) {
    replyError(response, ErrorWord::internal, e.what());
  } catch (...) {
    replyError(response, ErrorWord::internal);
  }
}

thread_local std::chrono::steady_clock::time_point requestStarted;

}  // namespace

json jsonBody(const httplib::Request& request) {
  json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    throw Failure(FailureKind::invalidArgument, "the body must be a JSON object");
  }
  return body;
}

void replyJson(httplib::Response& response, const json& body) {
  response.set_header("Cache-Control", "no-store");
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

std::vector<std::string> acceptedHosts(const Address& address) {
  const std::string port = std::to_string(address.port);
  std::vector<std::string> hosts;
  const bool ipv6 = address.host.find(':') != std::string::npos;
  hosts.push_back((ipv6 ? "[" + address.host + "]" : address.host) + ":" + port);
  if (address.host == "127.0.0.1" || address.host == "::1" || address.host == "localhost") {
    for (const char* alias : {"127.0.0.1", "[::1]", "localhost"}) hosts.push_back(std::string(alias) + ":" + port);
  }
  return hosts;
}

bool fromOwnOrigin(const std::vector<std::string>& accepted, const std::string& host, const std::string* origin) {
  bool hostAccepted = false;
  for (const auto& a : accepted) hostAccepted = hostAccepted || host == a;
  if (!hostAccepted) return false;
  // Browsers send Origin with every request a page makes to another origin (and
  // with our own page's POSTs); it must then be the studio itself.
  return !origin || *origin == "http://" + host;
}

void configureServer(httplib::Server& server, Studio& studio, const Address& address, const std::string& webDir) {
  const auto accepted = acceptedHosts(address);
  server.set_pre_routing_handler([accepted](const httplib::Request& request, httplib::Response& response) {
    requestStarted = std::chrono::steady_clock::now();
    const std::string host = request.get_header_value("Host");
    const bool hasOrigin = request.has_header("Origin");
    const std::string origin = request.get_header_value("Origin");
    if (!fromOwnOrigin(accepted, host, hasOrigin ? &origin : nullptr)) {
      replyError(response, ErrorWord::forbidden,
                 "refused: Host \"" + host + "\"" + (hasOrigin ? ", Origin \"" + origin + "\"" : "") +
                     " is not this studio");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    const auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - requestStarted);
    std::fprintf(stderr, "qvstudio: %s %s %d %zu bytes %.1f ms\n", request.method.c_str(), request.path.c_str(),
                 response.status, response.body.size(), took.count());
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
        replyFailure(response, failure);
      });
  server.set_mount_point("/", webDir);

  std::vector<Route> routes;
  for (auto group : {screenRoutes, recordingRoutes, replayRoutes}) {
    auto list = group();
    routes.insert(routes.end(), list.begin(), list.end());
  }
  for (const auto& route : routes) {
    auto handler = [&studio, h = route.handler](const httplib::Request& request, httplib::Response& response) {
      try {
        h(studio, request, response);
      } catch (...) {
        replyFailure(response, std::current_exception());
      }
    };
    if (std::string(route.method) == "GET") {
      server.Get(route.pattern, handler);
    } else {
      server.Post(route.pattern, handler);
    }
  }
  auto unknown = [](const httplib::Request& request, httplib::Response& response) {
    replyError(response, ErrorWord::unknownRoute, "no route " + request.method + " " + request.path);
  };
  server.Get(".*", unknown);
  server.Post(".*", unknown);
  server.Put(".*", unknown);
  server.Delete(".*", unknown);
}

}  // namespace studio
