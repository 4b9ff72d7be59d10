// Web views in the real browser: a page with a form, loaded into a view of the key
// window, reached by touches and keys as a person's, by the toolkit's tap path and
// by scripts, and drawn when the window is rendered.
#include <gtest/gtest.h>

#include <any>

#include "../uikit/touch_helpers.h"
#include "log_lines.h"
#include "main_loop.h"
#include "uikit/UIKeyboard.h"
#include "webkit/UIWebView.h"
#include "webkit/WebPage.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kPage = R"(<!doctype html>
<html><body style="margin:0">
<div id="red" style="position:absolute;left:0;top:0;width:100px;height:60px;background:#ff0000"></div>
<input id="name" style="position:absolute;left:10px;top:80px;width:200px;height:30px">
<button id="go" style="position:absolute;left:10px;top:130px;width:120px;height:40px"
  onclick="document.getElementById('result').textContent='Hello, '+document.getElementById('name').value">Go</button>
<p id="result" style="position:absolute;left:10px;top:180px">none</p>
<script>
  window.trustedKeys = 0;
  document.addEventListener('keydown', function (e) { if (e.isTrusted) window.trustedKeys++; });
</script>
</body></html>)";

// The centre of a page element, in the browser view's coordinates.
CGPoint centreOf(UIWebView& webView, const std::string& id) {
  auto text = webView.stringByEvaluatingJavaScriptFromString(
      "(function(){var r=document.getElementById('" + id + "').getBoundingClientRect();"
      "return (r.left+r.width/2)+','+(r.top+r.height/2);})()");
  auto comma = text.find(',');
  EXPECT_NE(comma, std::string::npos) << text;
  if (comma == std::string::npos) return CGPointZero;
  return {std::stod(text.substr(0, comma)), std::stod(text.substr(comma + 1))};
}

TEST(WebViewTest, APageReachedByTouchesKeysTheTapPathAndScriptsAndDrawnWithTheWindow) {
  qvtest::LogLines logs;
  auto window = uikittest::makeKeyWindow();
  auto webView = std::make_shared<UIWebView>(CGRectMake(0, 100, 390, 500));
  window->addSubview(webView);
  EXPECT_FALSE(webView->isLoading()) << "nothing asked for yet";
  webView->loadHTMLString(kPage, std::nullopt);
  EXPECT_TRUE(webView->isLoading());
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return !webView->isLoading(); }, 60s));
  ASSERT_EQ(webView->_page()->state(), webkit::WebPage::State::ready);

  // Scripts answer texts; what is not a string, number or boolean answers "".
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("document.getElementById('result').textContent"), "none");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("1+2"), "3");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("0.5 > 1"), "false");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("undefined"), "");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("({a: 1})"), "");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("throw new Error('no')"), "");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("function declared() { return 'kept'; }"), "");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("declared()"), "kept") << "declarations stay in the page";
  // A page dialog never holds a script up.
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("alert('hi'); 'after'"), "after");
  EXPECT_EQ(webView->_page()->dismissedDialogs(), 1u);
  EXPECT_TRUE(logs.contains("UIWebView: a page alert was dismissed: hi"));

  // The tap path toolkits use: _internal, then browserView, then the method table.
  auto internal = std::any_cast<objc::id>(webView->valueForKey("_internal"));
  ASSERT_TRUE(internal);
  auto browserObject = std::any_cast<objc::id>(internal->valueForKey("browserView"));
  ASSERT_TRUE(browserObject);
  EXPECT_EQ(browserObject->className(), "UIWebBrowserView");
  auto browserView = std::dynamic_pointer_cast<UIView>(browserObject);
  ASSERT_TRUE(browserView);
  EXPECT_EQ(browserView->superview(), webView);
  EXPECT_TRUE(CGRectEqualToRect(browserView->frame(), webView->bounds()));
  EXPECT_TRUE(browserView->respondsToSelector("tapInteractionWithLocation:"));
  webView->stringByEvaluatingJavaScriptFromString("document.getElementById('name').value='Ann'");
  objc::msgSend<void>(*browserView, "tapInteractionWithLocation:", centreOf(*webView, "go"));
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("document.getElementById('result').textContent"),
            "Hello, Ann");

  // A finger on the input focuses it: the browser view takes the keyboard, and keys
  // typed on it reach the page as the browser's own (trusted) key events.
  CGPoint input = centreOf(*webView, "name");
  auto touched = uikittest::tap(window, {input.x, input.y + 100});
  EXPECT_EQ(touched, browserView);
  EXPECT_TRUE(browserView->isFirstResponder());
  EXPECT_TRUE(UIKeyboard::isOnScreen());
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("document.activeElement.id"), "name");
  ASSERT_TRUE(UIKeyboard::typeText("\b\b\bZoë 'q' \\"));
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("document.getElementById('name').value"), "Zoë 'q' \\");
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("String(window.trustedKeys)"), "12");
  // A finger on the button clicks it and gives the keyboard up.
  CGPoint go = centreOf(*webView, "go");
  uikittest::tap(window, {go.x, go.y + 100});
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("document.getElementById('result').textContent"),
            "Hello, Zoë 'q' \\");
  EXPECT_FALSE(browserView->isFirstResponder());
  EXPECT_FALSE(UIKeyboard::isOnScreen());

  // Rendering the window draws the page where the web view is.
  UIGraphicsBeginImageContextWithOptions(window->bounds().size, true, 1);
  window->drawViewHierarchyInRect(window->bounds(), false);
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelAt(50, 130), 0xFFFF0000u) << "the red block at the page's top left";
  EXPECT_EQ(image->pixelAt(300, 130), 0xFFFFFFFFu) << "the page's white beside it";

  // A reload empties the page's state and reports loading until it is done.
  webView->stringByEvaluatingJavaScriptFromString("window.marker = 'set'");
  webView->reload();
  EXPECT_TRUE(webView->isLoading());
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return !webView->isLoading(); }, 30s));
  EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("String(window.marker)"), "undefined");
}

}  // namespace
