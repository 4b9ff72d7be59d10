#include "webkit/WebPage.h"

#include <cmath>

#include "foundation/log.h"
#include "webkit/Browser.h"
#include "webkit/DevToolsConnection.h"

namespace webkit {

namespace {

constexpr std::chrono::milliseconds kLoadTimeout{30000};

// The number of bytes of the UTF-8 sequence that starts with `lead`.
std::size_t utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

std::string baseTag(const std::string& url) {
  std::string escaped;
  for (char c : url) escaped += c == '"' ? std::string("&quot;") : std::string(1, c);
  return "<base href=\"" + escaped + "\">";
}

// The current thread's budget (WebPage::Budget): its end, and what one call may take.
thread_local WebPage::Clock::time_point tBudgetEnd = WebPage::Clock::time_point::max();
thread_local std::chrono::milliseconds tBudgetEachCall = std::chrono::milliseconds::max();

// A call that had less time than this (its budget nearly spent) and got no answer
// says nothing about the page.
constexpr std::chrono::milliseconds kTellingWait{250};
constexpr std::chrono::milliseconds kProbeTimeout{5000};
// How long an answer that its caller gave up on is still taken.
constexpr std::chrono::milliseconds kLateAnswerTimeout{60000};

}  // namespace

WebPage::Budget::Budget(std::chrono::milliseconds total, std::chrono::milliseconds eachCall)
    : previousEnd_(tBudgetEnd), previousEach_(tBudgetEachCall) {
  tBudgetEnd = std::min(previousEnd_, Clock::now() + total);
  tBudgetEachCall = std::min(previousEach_, eachCall);
}

WebPage::Budget::~Budget() {
  tBudgetEnd = previousEnd_;
  tBudgetEachCall = previousEach_;
}

std::shared_ptr<WebPage> WebPage::open(CGSize size, double scale) {
  std::shared_ptr<WebPage> page(new WebPage(size, scale));
  std::weak_ptr<WebPage> weak = page;
  dispatch_async(page->queue_, [weak] {
    if (auto self = weak.lock()) self->start();
  });
  return page;
}

WebPage::WebPage(CGSize size, double scale)
    : scale_(scale > 0 ? scale : 1.0), queue_(dispatch_queue_create("UIWebView.page")), size_(size) {}

WebPage::~WebPage() {
  std::shared_ptr<DevToolsConnection> connection;
  std::string targetId;
  {
    std::lock_guard lock(mutex_);
    connection = connection_;
    targetId = targetId_;
    state_ = State::closed;
  }
  stateChanged_.notify_all();
  if (!connection) return;
  connection->removeEventListener(listenerToken_);
  connection->removeEventListener(browserListenerToken_);
  if (!targetId.empty()) {
    connection->callAsync("Target.closeTarget", {{"targetId", targetId}}, {}, kCallTimeout, nullptr);
  }
}

void WebPage::setState(State state) {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::closed) return;
    state_ = state;
  }
  stateChanged_.notify_all();
}

WebPage::State WebPage::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool WebPage::waitUntilReady(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  stateChanged_.wait_for(lock, timeout, [&] { return state_ != State::starting; });
  return state_ == State::ready;
}

bool WebPage::session(std::shared_ptr<DevToolsConnection>& connection, std::string& sessionId,
                      std::chrono::milliseconds timeout) const {
  if (!waitUntilReady(timeout)) return false;
  std::lock_guard lock(mutex_);
  connection = connection_;
  sessionId = sessionId_;
  return connection && !connection->isClosed();
}

void WebPage::start() {
  auto browser = Browser::shared();
  if (!browser) {
    setState(State::unavailable);
    return;
  }
  auto connection = browser->connection();
  std::weak_ptr<WebPage> weak = weak_from_this();
  try {
    CGSize size;
    {
      std::lock_guard lock(mutex_);
      size = size_;
    }
    // A window of its own: the browser paints only the front page of a window.
    const std::string targetId =
        connection->call("Target.createTarget", {{"url", "about:blank"}, {"newWindow", true}})["targetId"];
    const std::string sessionId =
        connection->call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}})["sessionId"];
    const int token = connection->addEventListener(sessionId, [weak](const std::string& method, const JSONValue& params) {
      if (auto self = weak.lock()) self->handleEvent(method, params);
    });
    const int browserToken = connection->addEventListener(
        "", [weak, sessionId](const std::string& method, const JSONValue& params) {
          if (method == "Target.detachedFromTarget" && params.value("sessionId", std::string()) == sessionId) {
            if (auto self = weak.lock()) self->markLost(sessionId, "the page was detached");
          }
        });
    {
      std::lock_guard lock(mutex_);
      connection_ = connection;
      targetId_ = targetId;
      sessionId_ = sessionId;
      listenerToken_ = token;
      browserListenerToken_ = browserToken;
    }
    connection->call("Page.enable", JSONValue::object(), sessionId);
    connection->call("Emulation.setDeviceMetricsOverride",
                     {{"width", std::lround(size.width)}, {"height", std::lround(size.height)},
                      {"deviceScaleFactor", scale_}, {"mobile", false}},
                     sessionId);
    connection->onClose([weak, sessionId] {
      if (auto self = weak.lock()) self->markLost(sessionId, "the browser ended");
    });
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::starting) state_ = State::ready;  // not when lost meanwhile
    }
    stateChanged_.notify_all();
  } catch (const DevToolsError& e) {
    NSLog("UIWebView: the page could not be opened (%@)", e.what());
    setState(State::unavailable);
  }
}

void WebPage::handleEvent(const std::string& method, const JSONValue& params) {
  std::string targetId;
  {
    std::lock_guard lock(mutex_);
    targetId = targetId_;
  }
  if (method == "Page.frameStartedLoading" || method == "Page.frameStoppedLoading") {
    // The main frame of a page target carries the target's id.
    if (params.value("frameId", std::string()) == targetId) frameLoading_ = method == "Page.frameStartedLoading";
  } else if (method == "Page.javascriptDialogOpening") {
    ++dismissedDialogs_;
    NSLog("UIWebView: a page %@ was dismissed: %@", params.value("type", std::string("dialog")),
          params.value("message", std::string()));
    std::shared_ptr<DevToolsConnection> connection;
    std::string sessionId;
    {
      std::lock_guard lock(mutex_);
      connection = connection_;
      sessionId = sessionId_;
    }
    // Leaving a page is allowed; everything else is answered "cancel". Not waited
    // for: this runs on the pipe's reading thread.
    if (connection) {
      connection->callAsync("Page.handleJavaScriptDialog",
                            {{"accept", params.value("type", std::string()) == "beforeunload"}}, sessionId,
                            kCallTimeout, nullptr);
    }
  } else if (method == "Inspector.targetCrashed") {
    std::string sessionId;
    {
      std::lock_guard lock(mutex_);
      sessionId = sessionId_;
    }
    markLost(sessionId, "the page crashed");
  }
}

void WebPage::markLost(const std::string& sessionId, const char* why) {
  {
    std::lock_guard lock(mutex_);
    if (sessionId != sessionId_ || (state_ != State::ready && state_ != State::starting)) return;
    state_ = State::lost;
  }
  stateChanged_.notify_all();
  NSLog("UIWebView: %@; the page opens again when the web view is next used", std::string(why));
}

void WebPage::reviveIfLost() {
  std::shared_ptr<DevToolsConnection> old;
  int tokens[2];
  std::function<void()> lastLoad;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::lost) return;
    state_ = State::starting;
    old = std::move(connection_);
    tokens[0] = listenerToken_;
    tokens[1] = browserListenerToken_;
    targetId_.clear();
    sessionId_.clear();
    lastLoad = lastLoad_;
  }
  stateChanged_.notify_all();
  stalledSince_ = 0;
  frameLoading_ = false;
  if (old) {
    // A renderer that crashed leaves the browser (and this connection) running.
    for (int token : tokens) old->removeEventListener(token);
  }
  std::weak_ptr<WebPage> weak = weak_from_this();
  dispatch_async(queue_, [weak] {
    if (auto self = weak.lock()) self->start();
  });
  if (lastLoad) enqueueLoad(lastLoad);
}

bool WebPage::isResponsive() {
  Clock::rep since = stalledSince_.load();
  if (since == 0) return true;
  std::shared_ptr<DevToolsConnection> connection;
  std::string sessionId;
  {
    std::lock_guard lock(mutex_);
    connection = connection_;
    sessionId = sessionId_;
  }
  if (!connection || connection->lastHeardFrom(sessionId).time_since_epoch().count() > since) {
    if (stalledSince_.compare_exchange_strong(since, 0)) NSLog("UIWebView: the page answers again");
    return true;
  }
  // Something the page must answer, so that it is heard from once it can.
  if (!probing_.exchange(true)) {
    std::weak_ptr<WebPage> weak = weak_from_this();
    connection->callAsync("Runtime.evaluate", {{"expression", "1"}}, sessionId, kProbeTimeout,
                          [weak](const JSONValue*, std::exception_ptr) {
                            if (auto self = weak.lock()) self->probing_ = false;
                          });
  }
  return false;
}

void WebPage::noteNoAnswer(const std::string& method, std::chrono::milliseconds waited) {
  Clock::rep answering = 0;
  if (stalledSince_.compare_exchange_strong(answering, Clock::now().time_since_epoch().count())) {
    NSLog("UIWebView: the page does not answer (no answer to %@ in %d ms); its calls fail at once until it "
          "answers again",
          method, static_cast<int>(waited.count()));
  }
}

std::optional<JSONValue> WebPage::pageCall(const std::string& method, const JSONValue& params,
                                           std::chrono::milliseconds timeout, const LateAnswer& late) {
  reviveIfLost();
  const auto now = Clock::now();
  timeout = std::min(timeout, tBudgetEachCall);
  if (tBudgetEnd != Clock::time_point::max()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(tBudgetEnd - now);
    if (left.count() <= 0) return std::nullopt;
    timeout = std::min(timeout, left);
  }
  if (!isResponsive()) return std::nullopt;
  std::shared_ptr<DevToolsConnection> connection;
  std::string sessionId;
  if (!session(connection, sessionId, timeout)) return std::nullopt;
  timeout -= std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - now);
  if (timeout.count() <= 0) return std::nullopt;
  if (!late) {
    try {
      return connection->call(method, params, sessionId, timeout);
    } catch (const TimeoutError&) {
      if (timeout >= kTellingWait) noteNoAnswer(method, timeout);
      return std::nullopt;
    }
  }
  // The call stays registered after this caller gives up, so that its answer,
  // when it comes, still reaches `late`.
  struct Waiting {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false, gaveUp = false;
    std::optional<JSONValue> result;
    std::exception_ptr error;
  };
  auto waiting = std::make_shared<Waiting>();
  connection->callAsync(method, params, sessionId, kLateAnswerTimeout,
                        [waiting, late](const JSONValue* result, std::exception_ptr error) {
                          std::unique_lock lock(waiting->mutex);
                          if (waiting->gaveUp) {
                            lock.unlock();
                            if (result) late(*result);
                            return;
                          }
                          if (result) waiting->result = *result;
                          waiting->error = std::move(error);
                          waiting->done = true;
                          waiting->answered.notify_all();
                        });
  std::unique_lock lock(waiting->mutex);
  if (!waiting->answered.wait_for(lock, timeout, [&] { return waiting->done; })) {
    waiting->gaveUp = true;
    lock.unlock();
    if (timeout >= kTellingWait) noteNoAnswer(method, timeout);
    return std::nullopt;
  }
  if (std::exception_ptr error = std::move(waiting->error)) {
    lock.unlock();
    std::rethrow_exception(error);
  }
  return std::move(waiting->result);
}

bool WebPage::isLoading() {
  reviveIfLost();
  const State current = state();
  if (current == State::starting) return true;
  if (current != State::ready) return false;
  return loadsUnderWay_ > 0 || frameLoading_;
}

void WebPage::enqueueLoad(std::function<void()> work, bool remember) {
  ++loadsUnderWay_;
  if (remember) {
    std::lock_guard lock(mutex_);
    lastLoad_ = work;
  }
  std::weak_ptr<WebPage> weak = weak_from_this();
  dispatch_async(queue_, [weak, work = std::move(work)] {
    auto self = weak.lock();
    if (!self) return;
    if (self->state() == State::ready) {
      try {
        work();
      } catch (const DevToolsError& e) {
        NSLog("UIWebView: a load failed (%@)", e.what());
      }
    }
    --self->loadsUnderWay_;
  });
}

void WebPage::loadURL(const std::string& url) {
  enqueueLoad([this, url] {
    std::shared_ptr<DevToolsConnection> connection;
    std::string sessionId;
    if (!session(connection, sessionId)) return;
    auto result = connection->call("Page.navigate", {{"url", url}}, sessionId, kLoadTimeout);
    if (result.contains("errorText")) {
      NSLog("UIWebView: %@ did not load: %@", url, result.value("errorText", std::string()));
    }
  });
}

void WebPage::loadHTML(const std::string& html, const std::optional<std::string>& baseURL) {
  enqueueLoad([this, html, baseURL] {
    std::shared_ptr<DevToolsConnection> connection;
    std::string sessionId;
    if (!session(connection, sessionId)) return;
    connection->call("Page.navigate", {{"url", "about:blank"}}, sessionId, kLoadTimeout);
    std::string document = html;
    if (baseURL) document = baseTag(*baseURL) + document;
    std::string targetId;
    {
      std::lock_guard lock(mutex_);
      targetId = targetId_;
    }
    connection->call("Page.setDocumentContent", {{"frameId", targetId}, {"html", document}}, sessionId, kLoadTimeout);
  });
}

void WebPage::reload() {
  enqueueLoad([this] {
    std::shared_ptr<DevToolsConnection> connection;
    std::string sessionId;
    if (session(connection, sessionId)) connection->call("Page.reload", JSONValue::object(), sessionId, kLoadTimeout);
  }, false);
}

namespace {

// The text of an evaluation's reply (see WebPage::evaluate).
std::string completionText(const JSONValue& reply) {
  if (reply.contains("exceptionDetails")) return {};
  const JSONValue& result = reply["result"];
  const std::string type = result.value("type", std::string());
  if (type == "string") return result.value("value", std::string());
  if (type == "number" || type == "boolean") return result.value("description", result["value"].dump());
  return {};
}

}  // namespace

std::string WebPage::evaluate(const std::string& script, std::function<void(std::string)> lateAnswer) {
  try {
    LateAnswer late;
    if (lateAnswer) {
      late = [lateAnswer](const JSONValue& reply) {
        try {
          lateAnswer(completionText(reply));
        } catch (const std::exception& e) {
          NSLog("UIWebView: a late answer was dropped (%@)", e.what());
        }
      };
    }
    auto answer = pageCall("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}}, kCallTimeout, late);
    return answer ? completionText(*answer) : std::string();
  } catch (const DevToolsError&) {
    return {};
  } catch (const std::exception&) {
    return {};  // a script text that cannot be sent (not UTF-8)
  }
}

void WebPage::dispatchMouse(const char* type, CGPoint point, int buttons) {
  try {
    // Answered once the page has handled the event, so what follows sees its effect.
    pageCall("Input.dispatchMouseEvent", {{"type", type},
                                          {"x", point.x},
                                          {"y", point.y},
                                          {"button", "left"},
                                          {"buttons", buttons},
                                          {"clickCount", 1}});
  } catch (const DevToolsError& e) {
    NSLog("UIWebView: a touch did not reach the page (%@)", e.what());
  }
}

void WebPage::mousePressed(CGPoint point) { dispatchMouse("mousePressed", point, 1); }
void WebPage::mouseMoved(CGPoint point) { dispatchMouse("mouseMoved", point, 1); }
void WebPage::mouseReleased(CGPoint point) { dispatchMouse("mouseReleased", point, 0); }

void WebPage::click(CGPoint point) {
  mousePressed(point);
  mouseReleased(point);
}

void WebPage::dispatchKey(const std::string& key, const std::string& code, int keyCode, const std::string& text) {
  try {
    JSONValue down = {{"type", text.empty() ? "rawKeyDown" : "keyDown"}, {"key", key}};
    if (!code.empty()) down["code"] = code;
    if (keyCode) down["windowsVirtualKeyCode"] = keyCode;
    if (!text.empty()) {
      down["text"] = text;
      down["unmodifiedText"] = text;
    }
    if (!pageCall("Input.dispatchKeyEvent", down)) return;
    JSONValue up = {{"type", "keyUp"}, {"key", key}};
    if (!code.empty()) up["code"] = code;
    if (keyCode) up["windowsVirtualKeyCode"] = keyCode;
    pageCall("Input.dispatchKeyEvent", up);
  } catch (const DevToolsError& e) {
    NSLog("UIWebView: a key did not reach the page (%@)", e.what());
  }
}

void WebPage::typeText(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = std::min(utf8Length(static_cast<unsigned char>(text[i])), text.size() - i);
    const std::string character = text.substr(i, length);
    i += length;
    if (character == "\n" || character == "\r") {
      dispatchKey("Enter", "Enter", 13, "\r");
    } else if (character == "\t") {
      dispatchKey("Tab", "Tab", 9, "");
    } else {
      dispatchKey(character, "", 0, character);
    }
  }
}

void WebPage::pressBackspace() { dispatchKey("Backspace", "Backspace", 8, ""); }

std::optional<NSData> WebPage::screenshotPNG() {
  if (state() != State::ready) return std::nullopt;
  try {
    auto reply = pageCall("Page.captureScreenshot", {{"format", "png"}});
    if (!reply) return std::nullopt;
    return foundation::base64Decode(reply->value("data", std::string()));
  } catch (const DevToolsError&) {
    return std::nullopt;
  }
}

void WebPage::setViewportSize(CGSize size) {
  std::shared_ptr<DevToolsConnection> connection;
  std::string sessionId;
  {
    std::lock_guard lock(mutex_);
    if (size_.width == size.width && size_.height == size.height) return;
    size_ = size;
    if (state_ != State::ready) return;  // the start applies the latest size
    connection = connection_;
    sessionId = sessionId_;
  }
  connection->callAsync("Emulation.setDeviceMetricsOverride",
                        {{"width", std::lround(size.width)}, {"height", std::lround(size.height)},
                         {"deviceScaleFactor", scale_}, {"mobile", false}},
                        sessionId, kCallTimeout, nullptr);
}

}  // namespace webkit
