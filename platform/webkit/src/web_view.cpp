#include "webkit/UIWebView.h"

#include <atomic>
#include <cmath>

#include "foundation/log.h"
#include "uikit/UIEvent.h"
#include "uikit/UIGraphics.h"
#include "uikit/UIImage.h"
#include "uikit/UIImagePNG.h"
#include "uikit/UIScreen.h"
#include "uikit/UITouch.h"
#include "webkit/WebPage.h"

namespace {

// The web view's inner object: it leads from the web view to its browser view.
class UIWebViewInternal : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIWebViewInternal)
 public:
  std::weak_ptr<UIWebBrowserView> browserView;
};

// Whether the page's focused element takes typed text.
constexpr const char* kFocusTakesText =
    "(function(){var e=document.activeElement;if(!e)return false;if(e.isContentEditable)return true;"
    "var t=e.tagName;if(t==='TEXTAREA')return !e.readOnly&&!e.disabled;if(t!=='INPUT')return false;"
    "var k=(e.type||'text').toLowerCase();return !e.readOnly&&!e.disabled&&['button','submit','reset','checkbox',"
    "'radio','file','image','range','color','hidden'].indexOf(k)<0;})()";

}  // namespace

QV_OBJC_DEFINE_CLASS(UIWebViewInternal, objc::Object, [](objc::Class* c) {
  c->addMethod<std::any>("browserView", [](objc::Object& self) {
    objc::id view = static_cast<UIWebViewInternal&>(self).browserView.lock();
    return std::any(view);
  });
})

QV_OBJC_DEFINE_CLASS(UIWebBrowserView, UIView, [](objc::Class* c) {
  c->addMethod<void, CGPoint>("tapInteractionWithLocation:", [](objc::Object& self, CGPoint point) {
    static_cast<UIWebBrowserView&>(self).tapInteractionWithLocation(point);
  });
})

QV_OBJC_DEFINE_CLASS(UIWebView, UIView, [](objc::Class* c) {
  c->addMethod<std::any>("_internal", [](objc::Object& self) {
    return std::any(static_cast<UIWebView&>(self).internal_);
  });
})

// Browser view ---------------------------------------------------------------------

UIWebBrowserView::UIWebBrowserView(CGRect frame) : UIView(frame) { setBackgroundColor(UIColor::whiteColor()); }

void UIWebBrowserView::_setPage(const std::shared_ptr<webkit::WebPage>& page) {
  std::lock_guard lock(mutex_);
  page_ = page;
}

std::shared_ptr<webkit::WebPage> UIWebBrowserView::_page() const {
  std::lock_guard lock(mutex_);
  return page_;
}

CGPoint UIWebBrowserView::locationOf(const UITouchSet& touches) const {
  if (touches.empty()) return CGPointZero;
  return touches.front()->locationInView(selfView());
}

void UIWebBrowserView::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (auto page = _page()) page->mousePressed(locationOf(touches));
}

void UIWebBrowserView::touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (auto page = _page()) page->mouseMoved(locationOf(touches));
}

void UIWebBrowserView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (auto page = _page()) {
    page->mouseReleased(locationOf(touches));
    takeOrGiveUpKeyboard();
  }
}

void UIWebBrowserView::touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (auto page = _page()) page->mouseReleased(locationOf(touches));
}

void UIWebBrowserView::tapInteractionWithLocation(CGPoint point) {
  if (auto page = _page()) {
    page->click(point);
    takeOrGiveUpKeyboard();
  }
}

void UIWebBrowserView::takeOrGiveUpKeyboard() {
  auto page = _page();
  if (!page) return;
  if (page->evaluate(kFocusTakesText) == "true") {
    becomeFirstResponder();
  } else if (isFirstResponder()) {
    resignFirstResponder();
  }
}

void UIWebBrowserView::insertText(const std::string& text) {
  if (auto page = _page()) page->typeText(text);
}

void UIWebBrowserView::deleteBackward() {
  if (auto page = _page()) page->pressBackspace();
}

void UIWebBrowserView::drawRect(CGRect) {
  auto page = _page();
  if (!page) return;
  auto png = page->screenshotPNG();
  if (!png) return;
  if (auto image = UIImageWithPNGData(*png, page->scale())) image->drawInRect({CGPointZero, bounds().size});
}

// Web view -------------------------------------------------------------------------

namespace {
std::atomic<long> liveWebViews{0};
}  // namespace

UIWebView::UIWebView(CGRect frame) : UIView(frame) {
  liveWebViews.fetch_add(1, std::memory_order_relaxed);
  auto internal = std::make_shared<UIWebViewInternal>();
  browserView_ = std::make_shared<UIWebBrowserView>(CGRect{CGPointZero, frame.size});
  internal->browserView = browserView_;
  internal_ = internal;
  setBackgroundColor(UIColor::whiteColor());
}

UIWebView::~UIWebView() { liveWebViews.fetch_sub(1, std::memory_order_relaxed); }

long UIWebView::_liveCount() { return liveWebViews.load(std::memory_order_relaxed); }

std::shared_ptr<UIWebBrowserView> UIWebView::_browserView() {
  std::call_once(browserViewOnce_, [this] { addSubview(browserView_); });
  return browserView_;
}

void UIWebView::didMoveToSuperview() {
  UIView::didMoveToSuperview();
  _browserView();
}

std::shared_ptr<webkit::WebPage> UIWebView::_page() {
  std::call_once(pageOnce_, [this] {
    _browserView()->_setPage(webkit::WebPage::open(bounds().size, UIScreen::mainScreen()->scale()));
  });
  return browserView_->_page();
}

std::shared_ptr<webkit::WebPage> UIWebView::_pageIfOpen() const { return browserView_->_page(); }

void UIWebView::loadRequest(const NSURL& url) { _page()->loadURL(url.absoluteString); }

void UIWebView::loadHTMLString(const std::string& html, const std::optional<NSURL>& baseURL) {
  _page()->loadHTML(html, baseURL ? std::optional<std::string>(baseURL->absoluteString) : std::nullopt);
}

void UIWebView::reload() {
  if (auto page = _pageIfOpen()) page->reload();
}

bool UIWebView::isLoading() const {
  auto page = _pageIfOpen();
  return page && page->isLoading();
}

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  return stringByEvaluatingJavaScriptFromString(script, nullptr);
}

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script,
                                                              std::function<void(std::string)> lateAnswer) {
  auto page = _pageIfOpen();
  return page ? page->evaluate(script, std::move(lateAnswer)) : std::string();
}

bool UIWebView::_pageAnswers() const {
  auto page = _pageIfOpen();
  return !page || page->isResponsive();
}

void UIWebView::layoutSubviews() {
  UIView::layoutSubviews();
  const CGRect b = bounds();
  _browserView()->setFrame({CGPointZero, b.size});
  if (auto page = _pageIfOpen()) page->setViewportSize(b.size);
}

void UIWebView::boundsDidChange(CGRect oldBounds, CGRect newBounds) {
  UIView::boundsDidChange(oldBounds, newBounds);
  if (oldBounds.size.width != newBounds.size.width || oldBounds.size.height != newBounds.size.height) {
    setNeedsLayout();
  }
}
