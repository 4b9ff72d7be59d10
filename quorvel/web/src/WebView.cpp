#include "quorvel/web/WebView.h"

#include <cstdlib>
#include <exception>
#include <iterator>
#include <mutex>
#include <set>

#include "dispatch/dispatch.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/runloop.h"
#include "foundation/url.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/util/Utilities.h"
#include "webkit/UIWebView.h"
#include "webkit/WebPage.h"

#ifndef REMOTE_CDN_URL
#error "REMOTE_CDN_URL (the address of the installed page scripts) must be defined by the build"
#endif

QV_OBJC_DEFINE_CLASS(WebView, objc::Object)

namespace {

// A file that cannot be fetched is said once, not on every cycle that retries it.
void logFetchFailureOnce(const std::string& address, const std::string& reason) {
  static std::mutex mutex;
  static std::set<std::string> logged;
  {
    std::lock_guard lock(mutex);
    if (!logged.insert(address).second) return;
  }
  NSLog("Page script %@ could not be fetched: %@", address, reason);
}

// The injected files in their order. One call asks the page which of them took
// (a 1 or 0 for each, the global the file defines being there; jQuery as
// IsJqueryLoaded() sees it), so that a cycle whose time ran out is taken up
// where it stopped.
constexpr const char* kScriptFiles[] = {"preCheck.js",     "jquery.js",         "ZARVO_bililiteRange.js",
                                        "ZARVO_sendkeys.js", "xpathbuilder.js", "hybridrecorder.js",
                                        "hybridplayer.js"};
constexpr std::size_t kScriptCount = std::size(kScriptFiles);
constexpr const char* kScriptsPresent =
    "(function(){var pre=typeof IsJqueryLoaded==='function';"
    "return [pre,pre&&IsJqueryLoaded()==='True',typeof ZarvoRange==='function',typeof zarvoSendKeys==='function',"
    "typeof zarvoXPathOf==='function',typeof startRecording==='function',typeof findElements==='function']"
    ".map(Number).join('');})()";

}  // namespace

std::string WebView::scriptsBaseURL() {
  const char* configured = std::getenv("QUORVEL_SCRIPTS_URL");
  return configured && *configured ? configured : REMOTE_CDN_URL;
}

std::shared_ptr<UIWebView> WebView::getCurrentDisplayedWebView() {
  // Where no web view exists the walk of the key window could only come back empty.
  if (UIWebView::_liveCount() == 0) return nullptr;
  auto views = VisibleViewList::getAllUIViewsAccordingToViewType(std::string("uiwebview"));
  return views.empty() ? nullptr : std::dynamic_pointer_cast<UIWebView>(views.front());
}

std::optional<std::string> WebView::getRemoteFileContent(const std::string& fileName) {
  const std::string address = scriptsBaseURL() + "/" + fileName;
  auto url = NSURL::URLWithString(address);
  if (!url) return std::nullopt;
  auto fetched = NSURLFetchSynchronously(*url, kFetchTimeout);
  if (!fetched.data) {
    logFetchFailureOnce(address, fetched.error ? fetched.error->localizedDescription() : std::string("no data"));
    return std::string();
  }
  return foundation::stringFromUTF8Data(*fetched.data).value_or(std::string());
}

void WebView::injectJSFile(const std::shared_ptr<UIWebView>& webView, const std::string& fileName) {
  webView->stringByEvaluatingJavaScriptFromString(getRemoteFileContent(fileName).value_or(std::string()));
}

std::string WebView::callJavaScriptFunction(const std::shared_ptr<UIWebView>& webView, const std::string& script) {
  return webView->stringByEvaluatingJavaScriptFromString(script);
}

void WebView::callJavaScriptFunctionWithoutOutPut(const std::shared_ptr<UIWebView>& webView,
                                                  const std::string& script) {
  NSRunLoop::performOnMainThread([webView, script] { webView->stringByEvaluatingJavaScriptFromString(script); },
                                 false);
}

bool WebView::checkWebViewIsAlreadyHacked(const std::shared_ptr<UIWebView>& webView) {
  return callJavaScriptFunction(webView, "IsInjectionDone()") == "DONE";
}

void WebView::switchToSpyMode() {
  if (auto webView = getCurrentDisplayedWebView()) callJavaScriptFunction(webView, "switchtospymode()");
}

void WebView::switchToRecorderMode() {
  if (auto webView = getCurrentDisplayedWebView()) callJavaScriptFunction(webView, "switchtorecordermode()");
}

void WebView::performRecorderAndPlaybackInjection() {
  // Without a web view there is nothing to inject into: the main thread is not woken.
  if (UIWebView::_liveCount() == 0) return;
  dispatch_async(dispatch_get_main_queue(), [] {
    try {
      std::make_shared<WebView>()->injectOrCollect();
    } catch (...) {
      // A failure here must not reach the main queue; the next cycle tries again.
    }
  });
}

void WebView::injectOrCollect() {
  auto webView = getCurrentDisplayedWebView();
  if (!webView) return;
  if (webView->isLoading()) {
    NSLog("*****WEBVIEW IS LOADING");
    return;
  }
  if (!webView->_pageAnswers()) return;  // said once by the web view
  webkit::WebPage::Budget budget(kCycleBudget, kCycleCallTimeout);
  if (!checkWebViewIsAlreadyHacked(webView)) {
    const std::string present = callJavaScriptFunction(webView, kScriptsPresent);
    if (present.size() != kScriptCount) return;  // no answer in time: a later cycle
    bool needsJquery = present[1] == '0';
    if (present[0] == '0') {
      injectJSFile(webView, kScriptFiles[0]);
      needsJquery = callJavaScriptFunction(webView, "IsJqueryLoaded()") == "False";
    }
    if (needsJquery) injectJSFile(webView, kScriptFiles[1]);
    for (std::size_t i = 2; i < kScriptCount; ++i) {
      if (present[i] == '0') injectJSFile(webView, kScriptFiles[i]);
    }
    if (checkWebViewIsAlreadyHacked(webView)) NSLog("Page scripts injected into the web view");
    // A page loaded while the agent spies starts spying too, not recording.
    if (GlobalVars::sharedInstance()->_spyMode() == std::string("true")) {
      callJavaScriptFunction(webView, "switchtospymode()");
    }
    return;
  }
  GlobalVars::sharedInstance()->set_currentWebView(webView);
  // The page hands its steps over once: an answer that comes after this cycle gave
  // up waiting is kept all the same.
  storeCollectedSteps(webView->stringByEvaluatingJavaScriptFromString("startRecording()", storeCollectedSteps));
}

void WebView::storeCollectedSteps(std::string steps) {
  if (steps.empty()) return;
  NSLog("**HYBRID RECORDED STEPS %@", steps);
  GlobalVars::sharedInstance()->append_hybridRecordedSteps(withTouchImages(steps));
}

std::string WebView::withTouchImages(const std::string& document) {
  auto parsed = NSJSONSerialization::JSONObjectWithString(document);
  if (!parsed || !parsed->is_array()) return document;  // not a step list: passed on as it came
  auto vars = GlobalVars::sharedInstance();
  const std::string placeholder = kImagePlaceholderWord;
  for (auto& step : *parsed) {
    if (!step.is_object() || !step.contains("arguments") || !step["arguments"].is_array() ||
        step["arguments"].empty() || !step["arguments"][0].is_object()) {
      continue;
    }
    auto& object = step["arguments"][0];
    if (!object.contains("ObjectImage") || !object["ObjectImage"].is_string()) continue;
    const std::string value = object["ObjectImage"].get<std::string>();
    if (value.compare(0, placeholder.size(), placeholder) != 0) continue;
    // "ZARVO_OBJECT_IMAGE@<ms since 1970>": when the page recorded the step.
    std::optional<std::string> image;
    if (value.size() > placeholder.size() + 1 && value[placeholder.size()] == '@') {
      try {
        const double recordedAt = std::stod(value.substr(placeholder.size() + 1)) / 1000.0;
        image = Utilities::getBase64StringOfUIImage(vars->webTouchImageAt(recordedAt));
      } catch (const std::exception&) {
      }
    }
    if (!image) image = vars->_webViewBase64Image();
    if (!image) {
      image = kPlaceholderImage;
      vars->set_webViewBase64Image(image);
    }
    object["ObjectImage"] = *image;
  }
  return NSJSONSerialization::stringWithJSONObject(*parsed);
}
