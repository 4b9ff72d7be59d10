// Playing recordings through a W3C WebDriver endpoint (qvdriver itself, or a
// Selenium Grid hub in front of several): one WebDriver session answers the same
// playback requests the agent's port does, so the replay's steps, waits,
// scrolling and assertions run unchanged over HTTP.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "qvctl/Replay.h"

namespace qvctl {

// The capabilities of a new session: `capabilities` (a JSON object, or empty for
// none) merged into {"platformName": "quorvel"}, as JSON text. Throws Error when
// `capabilities` is not a JSON object.
std::string sessionCapabilities(const std::string& capabilities);

class WebDriverSession : public StepDriver {
 public:
  // `url` is the endpoint's base ("http://127.0.0.1:4444" or ".../wd/hub");
  // `capabilities` a JSON object merged into the session's "alwaysMatch" (which
  // holds {"platformName": "quorvel"} otherwise). Throws Error when
  // `capabilities` is not a JSON object.
  WebDriverSession(std::string url, const std::string& capabilities, std::chrono::milliseconds timeout);
  // Deletes the session if one is open.
  ~WebDriverSession() override;
  WebDriverSession(const WebDriverSession&) = delete;
  WebDriverSession& operator=(const WebDriverSession&) = delete;

  // Creates the session now (a hub may queue the request until a device is free);
  // throws Error when the endpoint refuses it or cannot be reached.
  void open() override;
  // The playback request answered as the agent would: element lists, outputs,
  // empty lists for actions; throws Error with the endpoint's error otherwise.
  std::string play(const Request& request) override;
  // Deletes the session; quiet when it is already gone.
  void close();

  const std::string& sessionId() const { return sessionId_; }

 private:
  struct Http;
  std::string url_;
  std::string capabilities_;
  std::chrono::milliseconds timeout_;
  std::unique_ptr<Http> http_;
  std::string sessionId_;
};

}  // namespace qvctl
