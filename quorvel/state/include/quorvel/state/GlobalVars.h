// The agent's process-wide shared state: mode flags (texts compared by exact
// equality; absent until set) and a few live object references. Every member is a
// plain property that can be read and replaced from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "objc/runtime.h"
#include "quorvel/state/SharedRef.h"

class UIImage;
class UIView;
class UIWindow;

class GlobalVars : public objc::Object {
  QV_OBJC_DECLARE_CLASS(GlobalVars)
 public:
  using Text = std::optional<std::string>;

  // The single instance, created once on first use and never destroyed.
  static std::shared_ptr<GlobalVars> sharedInstance();

  // The text field whose typed text is still to be recorded.
  std::shared_ptr<UIView> _editAbleElement() const { return editAbleElement.load(); }
  void set_editAbleElement(std::shared_ptr<UIView> v) { editAbleElement.store(std::move(v)); }
  // Clears the editable element if it is still `expected`: the one caller that
  // succeeds records its text, so the main thread and the recorded-action thread
  // never both record the same text.
  bool take_editAbleElement(const std::shared_ptr<UIView>& expected) {
    return editAbleElement.compareExchange(expected, nullptr);
  }

  // The key window as last seen by the polling hook.
  std::shared_ptr<UIWindow> _uiWindow() const { return uiWindow.load(); }
  void set_uiWindow(std::shared_ptr<UIWindow> v) { uiWindow.store(std::move(v)); }

  std::shared_ptr<UIWindow> _uiWindow_Dialog() const { return uiWindow_Dialog.load(); }
  void set_uiWindow_Dialog(std::shared_ptr<UIWindow> v) { uiWindow_Dialog.store(std::move(v)); }

  // Steps recorded inside a web page, ready to send: every text collected and not
  // yet taken by the step sender, oldest first. Collections never overwrite one
  // another. The getter answers the newest pending text (absent when none); the
  // setter replaces every pending text by `v` (none for absent).
  Text _hybridRecordedSteps() const;
  void set_hybridRecordedSteps(const Text& v);
  void append_hybridRecordedSteps(const std::string& v);
  // Takes every pending text at once, oldest first.
  std::vector<std::string> take_hybridRecordedSteps();

  // The web view into which the page scripts were last found injected.
  std::shared_ptr<UIView> _currentWebView() const { return currentWebView.load(); }
  void set_currentWebView(std::shared_ptr<UIView> v) { currentWebView.store(std::move(v)); }

  // "true" in object-spy mode, "false" in recording mode.
  Text _spyMode() const { return spyMode.load(); }
  void set_spyMode(const Text& v) { spyMode.store(v); }

  // "true" from the first parsed playback command on.
  Text _isPlaybackStarted() const { return isPlaybackStarted.load(); }
  void set_isPlaybackStarted(const Text& v) { isPlaybackStarted.store(v); }

  // Image of the web-view area last touched (Base64 JPEG or the placeholder data URL).
  Text _webViewBase64Image() const { return webViewBase64Image.load(); }
  void set_webViewBase64Image(const Text& v) { webViewBase64Image.store(v); }

  // Images of the areas of the latest touches on web views, each with the time of
  // its touch (seconds since 1970), so that a step the page records carries the
  // image of the touch that produced it.
  void add_webTouchImage(double time, std::shared_ptr<UIImage> image);
  // The image of the latest web-view touch at or shortly before `time`; nullptr
  // when there is none.
  std::shared_ptr<UIImage> webTouchImageAt(double time) const;

  // "LOADING" between a view controller's will-appear and did-appear, else "LOADED".
  Text _viewControllerLoaded() const { return viewControllerLoaded.load(); }
  void set_viewControllerLoaded(const Text& v) { viewControllerLoaded.store(v); }

  // The window class, stored when the window class is loaded.
  objc::Class* _currentUIWindow() const { return currentUIWindow.load(); }
  void set_currentUIWindow(objc::Class* v) { currentUIWindow.store(v); }

 private:
  mutable std::mutex webTouchImagesMutex;
  std::vector<std::pair<double, std::shared_ptr<UIImage>>> webTouchImages;  // oldest first
  quorvel::SharedRef<UIView> editAbleElement;
  quorvel::SharedRef<UIWindow> uiWindow;
  quorvel::SharedRef<UIWindow> uiWindow_Dialog;
  mutable std::mutex hybridRecordedStepsMutex;
  std::vector<std::string> hybridRecordedSteps;
  quorvel::SharedRef<UIView> currentWebView;
  quorvel::SharedText spyMode;
  quorvel::SharedText isPlaybackStarted;
  quorvel::SharedText webViewBase64Image;
  quorvel::SharedText viewControllerLoaded;
  std::atomic<objc::Class*> currentUIWindow{nullptr};
};
