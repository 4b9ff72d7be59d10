// The sample application's screens.
#pragma once

#include <memory>

#include "uikit/uikit.h"

// The first screen: user name, password, "Remember me", "Log In" and the outcome.
class LoginViewController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(LoginViewController)
 public:
  void viewDidLoad() override;

 private:
  void buildForm();
  void logIn();

  std::shared_ptr<UITextField> userField_, passwordField_;
  std::shared_ptr<UISwitch> rememberSwitch_;
  std::shared_ptr<UILabel> rememberChangesLabel_;  // how many value-changed actions the switch ran
  int rememberChanges_ = 0;
  std::shared_ptr<UILabel> outcomeLabel_;
};

class ListDataSource;

// A table of many rows inside a clipping scroll view; a row opens its detail.
class ListViewController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(ListViewController)
 public:
  static constexpr long kRowCount = 120;
  void viewDidLoad() override;

 private:
  std::shared_ptr<ListDataSource> source_;  // the table holds it weakly
};

// One row's screen, pushed on the navigation stack (its bar shows a back button).
class DetailViewController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(DetailViewController)
 public:
  DetailViewController() = default;
  explicit DetailViewController(long row) : row_(row) {}
  void viewDidLoad() override;

 private:
  long row_ = 0;
};

// Switches, a segmented control, a toggle of the application's own, a hidden
// container, an image, a tap area and a deeply nested label.
class SettingsViewController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(SettingsViewController)
 public:
  void viewDidLoad() override;

 private:
  std::shared_ptr<UILabel> status_;
  int taps_ = 0;
  std::shared_ptr<UILabel> switchChangesLabel_;  // value-changed actions of the switches so far
  int switchChanges_ = 0;
};

class UIWebView;

// A web page with a sign-up form (two fields, a checkbox, a button that shows a
// result, a link to a second page), served from the application's own files.
class WebViewController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(WebViewController)
 public:
  void viewDidLoad() override;
  void viewDidLayoutSubviews() override;

 private:
  std::shared_ptr<UIWebView> webView_;
};

// Helpers shared by the screens.
namespace sample {

std::shared_ptr<UILabel> makeLabel(CGRect frame, const std::string& text, const std::string& identifier,
                                   CGFloat fontSize = 17);
// A navigation controller around `root` with a tab bar item titled `title`.
std::shared_ptr<UINavigationController> inNavigation(const std::shared_ptr<UIViewController>& root,
                                                     const std::string& title);
// "<what>: <count>", the text of the screens' counting labels.
std::string countText(const std::string& what, int count);

}  // namespace sample
