// The web content bridge: keeps the page scripts injected into the web view on
// screen, collects the steps the page recorded, switches the page between
// recording and spy mode and runs script calls in it. Holds no state: create one
// per use. Everything that touches the web view runs on the main thread.
//
// The scripts are fetched from REMOTE_CDN_URL (built in: the file:// address of the
// installed scripts) or from QUORVEL_SCRIPTS_URL when that is set, each time they
// are injected.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"

class UIWebView;

class WebView : public objc::Object {
  QV_OBJC_DECLARE_CLASS(WebView)
 public:
  // The image put into page steps while no web-view touch image is known.
  static constexpr const char* kPlaceholderImage = "data:image/jpeg;base64,R0lGODlhAQABAAAAACwAAAAAAQABAAA=";
  static constexpr const char* kImagePlaceholderWord = "ZARVO_OBJECT_IMAGE";
  // Seconds a script fetch may take (on the main thread).
  static constexpr double kFetchTimeout = 5.0;
  // What the page calls of one injection-or-collection may take together on the
  // main thread, and each of them; what is left undone is done on a later cycle.
  static constexpr std::chrono::milliseconds kCycleBudget{1000};
  static constexpr std::chrono::milliseconds kCycleCallTimeout{500};

  // Where the scripts are fetched from.
  static std::string scriptsBaseURL();

  // A document the page recorded, with the image value of each step (the
  // placeholder word, "@" and the page's clock in ms when the step was recorded)
  // replaced by the image of the web-view touch that produced it; else by the
  // latest touch image, or kPlaceholderImage while there is none. Nothing else
  // of the document changes, typed text included.
  static std::string withTouchImages(const std::string& document);

  // The first visible web view of the key window, or nullptr.
  std::shared_ptr<UIWebView> getCurrentDisplayedWebView();
  // The file's text; "" when it cannot be fetched or is not UTF-8; absent when
  // the address is not a valid URL.
  std::optional<std::string> getRemoteFileContent(const std::string& fileName);
  // Fetches the file and runs it in the web view (an unfetchable file runs as "").
  void injectJSFile(const std::shared_ptr<UIWebView>& webView, const std::string& fileName);
  // Runs the script on the calling thread and answers its result text.
  std::string callJavaScriptFunction(const std::shared_ptr<UIWebView>& webView, const std::string& script);
  // Runs the script on the main thread later; returns at once.
  void callJavaScriptFunctionWithoutOutPut(const std::shared_ptr<UIWebView>& webView, const std::string& script);
  // Whether the page answers "DONE" to "IsInjectionDone()".
  bool checkWebViewIsAlreadyHacked(const std::shared_ptr<UIWebView>& webView);

  // Mode switches of the page's recorder, in the displayed web view if any.
  void switchToSpyMode();
  void switchToRecorderMode();

  // Schedules one injection-or-collection on the main queue and returns: injects
  // the scripts that a displayed, loaded page lacks (logging "Page scripts
  // injected into the web view" once they all took, and putting the page into spy
  // mode when the agent is in it), or else collects the page's recorded steps into
  // GlobalVars. A page that does not answer is left alone. Exceptions inside are
  // dropped.
  void performRecorderAndPlaybackInjection();
  // What that schedules, run on the calling (main) thread.
  void injectOrCollect();

 private:
  // Page steps collected by startRecording(), with the touch image in place, kept
  // for the step sender; "" keeps nothing. Safe from any thread.
  static void storeCollectedSteps(std::string steps);
};
