// The HTTP side of qvdriver: every request goes to the route table; one log line
// per request. It has no authentication: it listens on 127.0.0.1 unless told
// otherwise, and behind the HTTP guard, so that it answers only requests that name
// it in Host (its listen address, its loopback names, the allowed host names) and
// that no other site's page sent (403), with JSON bodies of at most 16 MB (413
// above). Sessions that go without commands for their idle timeout end by
// themselves.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "qvdriver/Router.h"

namespace qvdriver {

class Server {
 public:
  explicit Server(DriverOptions options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds host:port (port 0: any free port) and returns the port; throws
  // std::runtime_error when it cannot.
  int bind(const std::string& host, int port);
  // Serves until stop(); call after bind().
  void serve();
  // serve() on a thread of its own.
  void start();
  // Stops serving and ends every session (their connections close).
  void stop();

  // Where the one line per request goes (nothing by default).
  void setLogger(std::function<void(const std::string&)> logger);

  Driver& driver();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qvdriver
