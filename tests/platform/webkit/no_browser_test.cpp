// A web view where no browser can run: one clear line in the log, a blank view,
// empty answers, and nothing else disturbed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../uikit/touch_helpers.h"
#include "log_lines.h"
#include "main_loop.h"
#include "webkit/UIWebView.h"
#include "webkit/WebPage.h"

namespace {

using namespace std::chrono_literals;

TEST(NoBrowserTest, WebViewsStayBlankAndSaySoOnce) {
  ::setenv("QUORVEL_CHROMIUM", "/nonexistent/chromium", 1);
  qvtest::LogLines logs;
  auto window = uikittest::makeKeyWindow();
  std::vector<std::shared_ptr<UIWebView>> views;
  for (int i = 0; i < 2; ++i) {
    auto webView = std::make_shared<UIWebView>(CGRectMake(0, 0, 200, 200));
    window->addSubview(webView);
    webView->loadRequest(*NSURL::URLWithString("file:///nonexistent/index.html"));
    views.push_back(webView);
  }
  for (const auto& webView : views) {
    ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return !webView->isLoading(); }, 10s));
    EXPECT_EQ(webView->_page()->state(), webkit::WebPage::State::unavailable);
    EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("'anything'"), "");
    objc::msgSend<void>(*webView->_browserView(), "tapInteractionWithLocation:", CGPoint{10, 10});
  }
  EXPECT_EQ(logs.count("UIWebView: no browser at /nonexistent/chromium"), 1);

  // The view draws as a blank white rectangle; the rest of the window as ever.
  auto label = std::make_shared<UILabel>(CGRectMake(0, 300, 200, 40));
  label->setBackgroundColor(UIColor::blueColor());
  window->addSubview(label);
  UIGraphicsBeginImageContextWithOptions(window->bounds().size, true, 1);
  window->drawViewHierarchyInRect(window->bounds(), false);
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelAt(100, 100), 0xFFFFFFFFu);
  EXPECT_EQ(image->pixelAt(100, 320), 0xFF0000FFu);
}

}  // namespace
