#include "qvdriver/Server.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

// Larger bodies are refused before they are read (a send-keys text of this size is
// already far more than anyone types).
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;
constexpr const char* kJson = "application/json; charset=utf-8";

}  // namespace

struct Server::State {
  explicit State(DriverOptions options) : router(driver) { driver.options = std::move(options); }

  Driver driver;
  Router router;
  httplib::Server http;
  std::thread thread;
  std::function<void(const std::string&)> logger;
};

Server::Server(DriverOptions options) : state_(std::make_unique<State>(std::move(options))) {
  state_->router.addAllRoutes();
  auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    Reply reply = state_->router.dispatch(request.method, request.path, request.body);
    response.status = reply.status;
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reply.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kJson);
  };
  auto& http = state_->http;
  http.Get(".*", handle);
  http.Post(".*", handle);
  http.Delete(".*", handle);
  http.Put(".*", handle);
  http.Patch(".*", handle);
  http.Options(".*", handle);
  http.set_payload_max_length(kMaxBody);
  // Replies go out at once, not held back waiting for the client's acknowledgement.
  http.set_tcp_nodelay(true);
  http.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
    Failure failure = failureOf(error);
    response.status = errorKind(failure.code).status;
    response.set_content(errorBody(failure).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kJson);
  });
  // Failures of the HTTP layer itself (a body over the limit...) get a WebDriver body too.
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
}

Server::~Server() { stop(); }

int Server::bind(const std::string& host, int port) {
  int bound = port == 0 ? state_->http.bind_to_any_port(host) : (state_->http.bind_to_port(host, port) ? port : -1);
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

void Server::setLogger(std::function<void(const std::string&)> logger) { state_->logger = std::move(logger); }

Driver& Server::driver() { return state_->driver; }

}  // namespace qvdriver
