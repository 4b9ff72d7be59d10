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

enum class ErrorWord {
  invalidArgument,
  forbidden,
  lengthRequired,
  tooLarge,
  unknownRoute,
  conflict,
  unavailable,
  deviceError,
  internal
};

constexpr ErrorInfo kErrors[] = {
    {"invalid argument", 400, "the request is not understood"},
    {"forbidden origin", 403, "requests are taken only from the studio's own page"},
    {"length required", 411, "a body needs a Content-Length"},
    {"body too large", 413, "the body is larger than the studio takes"},
    {"unknown route", 404, "no such route"},
    {"conflict", 409, "not possible now"},
    {"agent unavailable", 503, "the agent or the device cannot be reached"},
    {"device error", 502, "the device refused the command"},
    {"internal error", 500, "the studio failed"},
};

void replyError(httplib::Response& response, ErrorWord word, const std::string& message = "",
                json details = json::object()) {
  const ErrorInfo& info = kErrors[static_cast<int>(word)];
  response.status = info.status;
  details["error"] = info.word;
  details["message"] = message.empty() ? info.message : message;
  replyJson(response, details);
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
  } catch (const qvctl::RecordingError& e) {
    // A recording that does not parse: each bad line as "NAME:LINE: reason".
    replyError(response, ErrorWord::invalidArgument, "the recording does not parse", {{"problems", e.problems()}});
  } catch (const qvctl::Error& e) {
    replyError(response, ErrorWord::unavailable, e.what());
  } catch (const std::exception& e) {
    replyError(response, ErrorWord::internal, e.what());
  } catch (...) {
    replyError(response, ErrorWord::internal);
  }
}

thread_local std::chrono::steady_clock::time_point requestStarted;

// Requests carry a few numbers or a line of typed text.
constexpr std::size_t kMaxBody = 1024 * 1024;

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

httpguard::Options guardOptions() {
  httpguard::Options options;
  options.maxBody = kMaxBody;
  options.refuse = [](const httplib::Request&, httplib::Response& response, const httpguard::Refusal& refusal) {
    requestStarted = std::chrono::steady_clock::now();  // refused before the pre-routing handler
    ErrorWord word = ErrorWord::invalidArgument;
    switch (refusal.reason) {
      case httpguard::Reason::foreignHost:
      case httpguard::Reason::foreignOrigin:
        word = ErrorWord::forbidden;
        break;
      case httpguard::Reason::lengthRequired:
        word = ErrorWord::lengthRequired;
        break;
      case httpguard::Reason::bodyTooLarge:
        word = ErrorWord::tooLarge;
        break;
      case httpguard::Reason::badRequest:
        break;
    }
    replyError(response, word, refusal.message);
  };
  return options;
}

void configureServer(httpguard::Server& server, Studio& studio, const std::string& webDir) {
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    requestStarted = std::chrono::steady_clock::now();
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
  for (auto group : {screenRoutes, recordingRoutes, replayRoutes, applicationRoutes}) {
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
