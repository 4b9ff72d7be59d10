// The web view: a view whose page runs in the application's headless browser.
//
// UIWebView holds a browser view (class "UIWebBrowserView") that fills it and
// shows the page. Touches on the browser view reach the page as mouse input; while
// the page's focused element takes text, the browser view is first responder and
// keys typed on the keyboard reach the page as key input. Rendering the view
// hierarchy draws the page as the browser paints it.
//
// Key-value access, as toolkits rely on it: the web view answers "_internal" with
// an object that answers "browserView" with the browser view (both objc::id in a
// std::any); the browser view's method table has "tapInteractionWithLocation:"
// (a CGPoint in its own coordinates), which clicks the page there.
//
// The page (and the browser, on first use) starts when the web view first needs
// it; until the page is there the view reports that it is loading. Calls that need
// an answer block the calling thread, which may be the main thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/url.h"
#include "uikit/UIKeyInput.h"
#include "uikit/UIView.h"

namespace webkit {
class WebPage;
}

class UIWebBrowserView : public UIView, public UIKeyInput {
  QV_OBJC_DECLARE_CLASS(UIWebBrowserView)
 public:
  explicit UIWebBrowserView(CGRect frame = CGRectZero);

  // Clicks the page at `point` (own coordinates) and takes or gives up the
  // keyboard according to what the page then focuses.
  void tapInteractionWithLocation(CGPoint point);

  bool canBecomeFirstResponder() const override { return true; }
  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void drawRect(CGRect rect) override;

  // UIKeyInput: typed text and the delete key go to the page's focused element.
  bool hasText() const override { return true; }
  void insertText(const std::string& text) override;
  void deleteBackward() override;

  // Platform internals.
  void _setPage(const std::shared_ptr<webkit::WebPage>& page);
  std::shared_ptr<webkit::WebPage> _page() const;

 private:
  CGPoint locationOf(const UITouchSet& touches) const;
  void takeOrGiveUpKeyboard();

  std::shared_ptr<webkit::WebPage> page_;
};

class UIWebView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIWebView)
 public:
  explicit UIWebView(CGRect frame = CGRectZero);
  ~UIWebView() override;

  // How many web views exist in the process (any thread may ask). None means none
  // is on screen either, which spares a search of the view tree for one.
  static long _liveCount();

  void loadRequest(const NSURL& url);
  void loadHTMLString(const std::string& html, const std::optional<NSURL>& baseURL);
  void reload();
  bool isLoading() const;

  // The script's completion value as a text ("" for none, see WebPage::evaluate).
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  // The same; an answer that comes only after the call gave up waiting goes to
  // `lateAnswer`, on another thread.
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script,
                                                     std::function<void(std::string)> lateAnswer);
  // False while the page gives no answers (see WebPage::isResponsive): its calls
  // then answer "" at once.
  bool _pageAnswers() const;

  std::shared_ptr<UIWebBrowserView> _browserView();
  // The page, opened on the first call.
  std::shared_ptr<webkit::WebPage> _page();
  // The page if it was opened, else nullptr.
  std::shared_ptr<webkit::WebPage> _pageIfOpen() const;

  void layoutSubviews() override;
  void didMoveToSuperview() override;

 protected:
  void boundsDidChange(CGRect oldBounds, CGRect newBounds) override;

 private:
  std::shared_ptr<UIWebBrowserView> browserView_;
  objc::id internal_;
  std::once_flag pageOnce_;
  std::once_flag browserViewOnce_;  // added once the web view is shared (not while constructed)
};
