// One page of the browser: a target in a window of its own, attached over the
// application's browser pipe. Opening returns at once; the browser and the page
// start on a background queue, and loads asked for meanwhile run once the page is
// there. Calls that need an answer (scripts, input, pictures) wait for the page
// with a deadline; on a page that cannot be had they answer empty at once.
//
// A browser that stops answering never holds a caller (often the main thread) for
// long: each call waits at most kCallTimeout, and less within a Budget. After a
// call got no answer in its time the page is unresponsive, which is logged once,
// and every call fails at once until the page is heard from again. A browser (or
// renderer) that ends leaves the page lost; its next use opens it again, in a
// browser started anew, and repeats its last load.
//
// Thread-safe: any thread may call, the main thread included, because replies are
// read on the pipe's own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
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
  // lost: the browser or the renderer ended; the next use opens the page again.
  enum class State { starting, ready, unavailable, lost, closed };
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kReadyTimeout{30000};
  // The longest one call waits for its answer.
  static constexpr std::chrono::milliseconds kCallTimeout{1000};

  // The time that the page calls made on this thread may take together while the
  // budget lives, and each of them at most (nested budgets take the shorter). A
  // call that finds the budget spent fails at once without counting against the
  // page.
  class Budget {
   public:
    Budget(std::chrono::milliseconds total, std::chrono::milliseconds eachCall);
    ~Budget();
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;

   private:
    Clock::time_point previousEnd_;
    std::chrono::milliseconds previousEach_;
  };

  // A page of `size` CSS pixels at `scale` device pixels per CSS pixel.
  static std::shared_ptr<WebPage> open(CGSize size, double scale);
  ~WebPage();  // closes the page's target

  State state() const;
  // False from a call that got no answer in its time until the page is heard from
  // again (a reply or an event); while false, calls fail at once.
  bool isResponsive();
  // Waits until the page is ready or cannot be; true when ready.
  bool waitUntilReady(std::chrono::milliseconds timeout = kReadyTimeout) const;
  // Starting, a load under way, or the page's main frame loading.
  bool isLoading();

  // Loads run one after the other, in the order asked.
  void loadURL(const std::string& url);
  // The HTML becomes the document; relative references resolve against `baseURL`
  // when there is one.
  void loadHTML(const std::string& html, const std::optional<std::string>& baseURL);
  void reload();

  // Runs the script in the page's main frame and answers its completion value as a
  // text: strings as they are, numbers and booleans as the script language prints
  // them, "" for anything else, for a script that throws, and when there is no page.
  // When the answer comes only after the call gave up waiting, it goes to
  // `lateAnswer` (if given), on another thread.
  std::string evaluate(const std::string& script, std::function<void(std::string)> lateAnswer = nullptr);

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
  // The connection and session while ready (waiting for readiness first, at most
  // `timeout`).
  bool session(std::shared_ptr<DevToolsConnection>& connection, std::string& sessionId,
               std::chrono::milliseconds timeout = kReadyTimeout) const;
  void setState(State state);
  // The page of `sessionId` is gone with its browser or renderer.
  void markLost(const std::string& sessionId, const char* why);
  // Opens a lost page again and repeats its last load.
  void reviveIfLost();
  // A call of the page's session within the call's time and the thread's budget;
  // absent when the page is not there, is unresponsive, gives no answer in time or
  // the budget is spent. Other failures throw DevToolsError. With `late`, an answer
  // that comes after the call gave up is handed to it.
  using LateAnswer = std::function<void(const JSONValue& result)>;
  std::optional<JSONValue> pageCall(const std::string& method, const JSONValue& params,
                                    std::chrono::milliseconds timeout = kCallTimeout, const LateAnswer& late = nullptr);
  void noteNoAnswer(const std::string& method, std::chrono::milliseconds waited);
  // Runs `work` on the page's queue with a load counted as under way meanwhile;
  // a remembered load is the one repeated when a lost page opens again.
  void enqueueLoad(std::function<void()> work, bool remember = true);
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
  std::function<void()> lastLoad_;       // repeated when a lost page opens again
  std::atomic<Clock::rep> stalledSince_{0};  // when a call last went unanswered; 0: answering
  std::atomic<bool> probing_{false};     // a call asking whether the page answers is out
};

}  // namespace webkit
