#include "Screens.h"

#include <cstdlib>

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(LoginViewController, UIViewController)

namespace sample {

std::shared_ptr<UILabel> makeLabel(CGRect frame, const std::string& text, const std::string& identifier,
                                   CGFloat fontSize) {
  auto label = std::make_shared<UILabel>(frame);
  label->setText(text);
  label->setFontSize(fontSize);
  if (!identifier.empty()) label->setAccessibilityIdentifier(identifier);
  return label;
}

std::shared_ptr<UINavigationController> inNavigation(const std::shared_ptr<UIViewController>& root,
                                                     const std::string& title) {
  root->setTitle(title);
  auto navigation = std::make_shared<UINavigationController>();
  navigation->initWithRootViewController(root);
  navigation->setTabBarItem(std::make_shared<UITabBarItem>(title, nullptr, 0));
  return navigation;
}

std::string countText(const std::string& what, int count) { return what + ": " + std::to_string(count); }

}  // namespace sample

namespace {

std::shared_ptr<UITextField> makeField(CGRect frame, const std::string& placeholder, const std::string& identifier) {
  auto field = std::make_shared<UITextField>(frame);
  field->setPlaceholder(placeholder);
  field->setBorderStyle(UITextBorderStyleRoundedRect);
  field->setAccessibilityIdentifier(identifier);
  return field;
}

std::string trimmed(const std::string& text) {
  auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

// Settings for replay tests: QV_SAMPLE_LOGIN_DELAY_MS shows the form that many
// milliseconds after the screen (a slow start), QV_SAMPLE_LOGIN_TITLE renames the
// "Log In" button.
void LoginViewController::viewDidLoad() {
  const char* delay = std::getenv("QV_SAMPLE_LOGIN_DELAY_MS");
  const long milliseconds = delay ? std::strtol(delay, nullptr, 10) : 0;
  if (milliseconds <= 0) {
    buildForm();
    return;
  }
  std::weak_ptr<LoginViewController> weak = std::static_pointer_cast<LoginViewController>(shared_from_this());
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, milliseconds * 1000000), dispatch_get_main_queue(), [weak] {
    if (auto self = weak.lock()) self->buildForm();
  });
}

void LoginViewController::buildForm() {
  auto root = view();
  CGFloat width = root->bounds().size.width;
  auto heading = sample::makeLabel(CGRectMake(20, 24, width - 40, 36), "Sign in to Sample", "loginTitle", 26);
  heading->setBold(true);
  root->addSubview(heading);

  userField_ = makeField(CGRectMake(20, 80, width - 40, 44), "User name", "userField");
  passwordField_ = makeField(CGRectMake(20, 136, width - 40, 44), "Password", "passwordField");
  passwordField_->setSecureTextEntry(true);
  root->addSubview(userField_);
  root->addSubview(passwordField_);

  root->addSubview(sample::makeLabel(CGRectMake(20, 196, 200, 31), "Remember me", "rememberLabel"));
  rememberSwitch_ = std::make_shared<UISwitch>(CGRectMake(width - 20 - UISwitch::kSize.width, 196, 0, 0));
  rememberSwitch_->setAccessibilityIdentifier("rememberSwitch");
  root->addSubview(rememberSwitch_);
  rememberChangesLabel_ = sample::makeLabel(CGRectMake(20, 228, width - 40, 18),
                                            sample::countText("Remember me changes", 0), "rememberChanges", 13);
  root->addSubview(rememberChangesLabel_);

  auto button = std::make_shared<UIButton>(CGRectMake(20, 248, width - 40, 48));
  const char* title = std::getenv("QV_SAMPLE_LOGIN_TITLE");
  button->setTitle(title && *title ? title : "Log In", UIControlStateNormal);
  button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
  button->setBackgroundColor(UIColor::systemBlueColor());
  button->layer()->setCornerRadius(10);
  button->setAccessibilityIdentifier("loginButton");
  std::weak_ptr<LoginViewController> weak = std::static_pointer_cast<LoginViewController>(shared_from_this());
  rememberSwitch_->addAction([weak](auto, auto) {
    if (auto self = weak.lock()) {
      self->rememberChangesLabel_->setText(sample::countText("Remember me changes", ++self->rememberChanges_));
    }
  }, UIControlEventValueChanged);
  button->addAction([weak](auto, auto) {
    if (auto self = weak.lock()) self->logIn();
  }, UIControlEventTouchUpInside);
  root->addSubview(button);

  outcomeLabel_ = sample::makeLabel(CGRectMake(20, 316, width - 40, 60), "Not signed in", "outcomeLabel");
  outcomeLabel_->setNumberOfLines(2);
  outcomeLabel_->setTextAlignment(NSTextAlignmentCenter);
  root->addSubview(outcomeLabel_);
}

void LoginViewController::logIn() {
  std::string user = trimmed(userField_->text().value_or(""));
  userField_->resignFirstResponder();
  passwordField_->resignFirstResponder();
  if (user.empty()) {
    outcomeLabel_->setTextColor(UIColor::redColor());
    outcomeLabel_->setText("Please enter your user name");
    return;
  }
  outcomeLabel_->setTextColor(UIColor::colorWithRed(0.1, 0.55, 0.2, 1));
  outcomeLabel_->setText("Welcome, " + user + (rememberSwitch_->isOn() ? " (remembered)" : ""));
}
