// One page of the browser: a target in a window of its own, attached over the
// application's browser pipe. Opening returns at once; the browser and the page
// start on a background queue, and loads asked for meanwhile run once the page is
// there. Calls that need an answer (scripts, input, pictures) wait for the page
// with a deadline; on a page that cannot be had they answer empty at once.
//
// Thread-safe: any thread may call, the main thread included, because replies are
// read on the pipe's own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dispatch/dispatch.h"
#include "foundation/data.h"
#include "foundation/json.h"
#include "uikit/CGGeometry.h"

namespace webkit {

class DevToolsConnection;

class WebPage : public std::enable_shared_from_this<WebPage> {
 public:
  enum class State { starting, ready, unavailable, closed };
  static constexpr std::chrono::milliseconds kReadyTimeout{30000};
  static constexpr std::chrono::milliseconds kCallTimeout{10000};

  // A page of `size` CSS pixels at `scale` device pixels per CSS pixel.
  static std::shared_ptr<WebPage> open(CGSize size, double scale);
  ~WebPage();  // closes the page's target

  State state() const;
  // Waits until the page is ready or cannot be; true when ready.
  bool waitUntilReady(std::chrono::milliseconds timeout = kReadyTimeout) const;
  // Starting, a load under way, or the page's main frame loading.
  bool isLoading() const;

  // Loads run one after the other, in the order asked.
  void loadURL(const std::string& url);
  // The HTML becomes the document; relative references resolve against `baseURL`
  // when there is one.
  void loadHTML(const std::string& html, const std::optional<std::string>& baseURL);
  void reload();

  // Runs the script in the page's main frame and answers its completion value as a
  // text: strings as they are, numbers and booleans as the script language prints
  // them, "" for anything else, for a script that throws, and when there is no page.
  std::string evaluate(const std::string& script);

  // Input, as a person's: a mouse button pressed, moved and released at points
  // of the page (CSS pixels), and keys.
  void mousePressed(CGPoint point);
  void mouseMoved(CGPoint point);
  void mouseReleased(CGPoint point);
  void click(CGPoint point);
  // Each character as a key pressed and released; "\n" is the return key.
  void typeText(const std::string& text);
  void pressBackspace();

  // The page as the browser paints it, as PNG at the page's scale; absent when
  // there is no page or no picture in time.
  std::optional<NSData> screenshotPNG();
  double scale() const { return scale_; }
  void setViewportSize(CGSize size);

  // Page dialogs (alert, confirm, prompt) are dismissed as soon as they open, so
  // that a script never waits for a person; this counts them.
  unsigned long dismissedDialogs() const { return dismissedDialogs_.load(); }

  WebPage(const WebPage&) = delete;
  WebPage& operator=(const WebPage&) = delete;

 private:
  WebPage(CGSize size, double scale);
  void start();
  void handleEvent(const std::string& method, const JSONValue& params);
  // The connection and session while ready (waiting for readiness first).
  bool session(std::shared_ptr<DevToolsConnection>& connection, std::string& sessionId) const;
  void setState(State state);
  // Runs `work` on the page's queue with a load counted as under way meanwhile.
  void enqueueLoad(std::function<void()> work);
  void dispatchMouse(const char* type, CGPoint point, int buttons);
  void dispatchKey(const std::string& key, const std::string& code, int keyCode, const std::string& text);

  const double scale_;
  dispatch_queue_t queue_;  // start and loads, in order
  mutable std::mutex mutex_;
  mutable std::condition_variable stateChanged_;
  State state_ = State::starting;
  CGSize size_;
  std::shared_ptr<DevToolsConnection> connection_;
  std::string targetId_;
  std::string sessionId_;
  int listenerToken_ = 0, browserListenerToken_ = 0;
  std::atomic<int> loadsUnderWay_{0};
  std::atomic<bool> frameLoading_{false};
  std::atomic<unsigned long> dismissedDialogs_{0};
};

}  // namespace webkit
