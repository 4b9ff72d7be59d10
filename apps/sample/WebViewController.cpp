// The Web tab: a web view showing the application's own sign-up page, installed
// next to the binary (share/sample-app/web beside bin/).
#include <unistd.h>

#include <filesystem>

#include "Screens.h"
#include "webkit/UIWebView.h"

QV_OBJC_DEFINE_CLASS(WebViewController, UIViewController)

namespace {

std::string pageURL() {
  std::error_code ec;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  const auto page = executable.parent_path().parent_path() / "share" / "sample-app" / "web" / "index.html";
  return "file://" + page.string();
}

}  // namespace

void WebViewController::viewDidLoad() {
  webView_ = std::make_shared<UIWebView>(view()->bounds());
  webView_->setAccessibilityIdentifier("signupPage");
  view()->addSubview(webView_);
  if (auto url = NSURL::URLWithString(pageURL())) webView_->loadRequest(*url);
}

void WebViewController::viewDidLayoutSubviews() { webView_->setFrame(view()->bounds()); }
