#include "qvdriver/Server.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "httpguard/HttpGuard.h"
#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

// Larger bodies are refused before they are read (a send-keys text of this size is
// already far more than anyone types).
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;
constexpr const char* kJson = "application/json; charset=utf-8";

std::string dumped(const nlohmann::json& body) {
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void replyFailure(httplib::Response& response, const Failure& failure, int status) {
  response.status = status;
  response.set_header("Cache-Control", "no-cache");
  response.set_content(dumped(errorBody(failure)), kJson);
}

// A body a client sends must be JSON: a stated media type of any other kind (a
// form or plain text, as pages send without asking) is refused.
bool isJsonType(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  for (auto& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type == "application/json" || (type.starts_with("application/") && type.ends_with("+json"));
}

httpguard::Options guardOptions(const DriverOptions& options) {
  httpguard::Options guard;
  guard.allowedHosts = options.allowedHosts;
  guard.maxBody = kMaxBody;
  guard.refuse = [](const httplib::Request&, httplib::Response& response, const httpguard::Refusal& refusal) {
    replyFailure(response, {ErrorCode::invalidArgument, refusal.message}, refusal.status);
  };
  return guard;
}

}  // namespace

struct Server::State {
  explicit State(DriverOptions options) : router(driver), http(guardOptions(options)) {
    driver.options = std::move(options);
  }

  Driver driver;
  Router router;
  httpguard::Server http;
  std::thread thread;
  std::function<void(const std::string&)> logger;

  // Ends sessions that went without commands for their idle timeout.
  std::thread reaper;
  std::mutex reaperMutex;
  std::condition_variable reaperWake;
  bool stopping = false;
};

Server::Server(DriverOptions options) : state_(std::make_unique<State>(std::move(options))) {
  state_->router.addAllRoutes();
  auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    Reply reply = state_->router.dispatch(request.method, request.path, request.body);
    response.status = reply.status;
    response.set_header("Cache-Control", "no-cache");
    response.set_content(dumped(reply.body), kJson);
  };
  auto& http = state_->http;
  http.Get(".*", handle);
  http.Post(".*", handle);
  http.Delete(".*", handle);
  http.Put(".*", handle);
  http.Patch(".*", handle);
  http.Options(".*", handle);
  http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    if (request.method == "POST" && request.has_header("Content-Type") &&
        !isJsonType(request.get_header_value("Content-Type"))) {
      replyFailure(response,
                   {ErrorCode::invalidArgument,
                    "refused: the body must be JSON, not \"" + request.get_header_value("Content-Type") + "\""},
                   415);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Replies go out at once, not held back waiting for the client's acknowledgement.
  http.set_tcp_nodelay(true);
  http.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
    Failure failure = failureOf(error);
    replyFailure(response, failure, errorKind(failure.code).status);
  });
  // Failures of the HTTP layer itself get a WebDriver body too.
  http.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    ErrorCode code = response.status == 404   ? ErrorCode::unknownCommand
                     : response.status == 405 ? ErrorCode::unknownMethod
                     : response.status < 500  ? ErrorCode::invalidArgument
                                              : ErrorCode::unknownError;
    Failure failure{code,
                    "HTTP " + std::to_string(response.status) + " for " + request.method + " " + request.path};
    response.set_content(errorBody(failure).dump(), kJson);
  });
  http.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    if (state_->logger) state_->logger(request.method + " " + request.path + " " + std::to_string(response.status));
  });
  state_->reaper = std::thread([state = state_.get()] {
    std::unique_lock lock(state->reaperMutex);
    while (!state->reaperWake.wait_for(lock, state->driver.options.idleCheckInterval,
                                       [state] { return state->stopping; })) {
      // Their connections close as the last references go, here or after a
      // command still holding one.
      for (const auto& session : state->driver.sessions.removeIdle(std::chrono::steady_clock::now())) {
        if (state->logger) state->logger("session " + session->id() + " ended after going without commands");
      }
    }
  });
}

Server::~Server() {
  stop();
  {
    std::lock_guard lock(state_->reaperMutex);
    state_->stopping = true;
  }
  state_->reaperWake.notify_all();
  state_->reaper.join();
}

int Server::bind(const std::string& host, int port) {
  int bound = state_->http.bindTo(host, port);
  if (bound <= 0) throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
  return bound;
}

void Server::serve() { state_->http.listen_after_bind(); }

void Server::start() {
  state_->thread = std::thread([this] { serve(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!state_->http.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Server::stop() {
  state_->http.stop();
  if (state_->thread.joinable()) state_->thread.join();
  state_->driver.sessions.removeAll();
}

void Server::setLogger(std::function<void(const std::string&)> logger) {
  std::lock_guard lock(state_->reaperMutex);  // the reaper logs under it
  state_->logger = std::move(logger);
}

Driver& Server::driver() { return state_->driver; }

}  // namespace qvdriver
