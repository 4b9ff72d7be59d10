#include "Screens.h"

QV_OBJC_DEFINE_CLASS(SettingsViewController, UIViewController)

namespace {

// The application's own toggle: a plain view class made at run time whose name
// says "Switch" but which has no on/off state (no isOn).
objc::Class* toggleClass() {
  static objc::Class* cls = [] {
    objc::Class* made = objc::Class::allocateClassPair(UIView::classObject(), "MyToggleSwitch");
    return made ? made : objc::Class::named("MyToggleSwitch");
  }();
  return cls;
}

// A small picture drawn at launch: a blue tile with a white square inside.
std::shared_ptr<UIImage> logoImage() {
  UIGraphicsBeginImageContextWithOptions({48, 48}, false, 0);
  CGContextRef context = UIGraphicsGetCurrentContext();
  CGContextSetFillColorWithColor(context, CGColorCreateSRGB(0.1, 0.4, 0.9, 1));
  CGContextFillRect(context, CGRectMake(0, 0, 48, 48));
  CGContextSetFillColorWithColor(context, CGColorCreateSRGB(1, 1, 1, 1));
  CGContextFillRect(context, CGRectMake(14, 14, 20, 20));
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return image;
}

}  // namespace

void SettingsViewController::viewDidLoad() {
  auto root = view();
  CGFloat width = root->bounds().size.width;
  std::weak_ptr<SettingsViewController> weak = std::static_pointer_cast<SettingsViewController>(shared_from_this());

  status_ = sample::makeLabel(CGRectMake(20, 8, width - 40, 28), "No changes", "settingsStatus", 15);
  root->addSubview(status_);

  struct Row {
    const char* title;
    const char* identifier;
    bool on;
  };
  CGFloat y = 44;
  for (const Row& row : {Row{"Notifications", "notificationsSwitch", true}, Row{"Dark mode", "darkModeSwitch", false},
                         Row{"Location", "locationSwitch", false}}) {
    root->addSubview(sample::makeLabel(CGRectMake(20, y, 200, 31), row.title, ""));
    auto toggle = std::make_shared<UISwitch>(CGRectMake(width - 20 - UISwitch::kSize.width, y, 0, 0));
    toggle->setOn(row.on);
    toggle->setAccessibilityIdentifier(row.identifier);
    toggle->setAccessibilityLabel(row.title);
    std::string title = row.title;
    toggle->addAction([weak, title](std::shared_ptr<UIControl> control, auto) {
      auto self = weak.lock();
      if (!self) return;
      auto toggle = std::static_pointer_cast<UISwitch>(control);
      self->status_->setText(title + (toggle->isOn() ? " on" : " off"));
      self->switchChangesLabel_->setText(sample::countText("Switch changes", ++self->switchChanges_));
    }, UIControlEventValueChanged);
    root->addSubview(toggle);
    y += 44;
  }

  auto sizes = std::make_shared<UISegmentedControl>(CGRectMake(20, y + 4, width - 40, 32));
  sizes->initWithItems({"Small", "Medium", "Large"});
  sizes->setSelectedSegmentIndex(1);
  sizes->setAccessibilityIdentifier("sizeControl");
  sizes->addAction([weak](std::shared_ptr<UIControl> control, auto) {
    auto self = weak.lock();
    auto segmented = std::static_pointer_cast<UISegmentedControl>(control);
    if (self) self->status_->setText("Size " + segmented->titleForSegmentAtIndex(segmented->selectedSegmentIndex()).value_or(""));
  }, UIControlEventValueChanged);
  root->addSubview(sizes);
  y += 52;

  // The application's own toggle: a tap changes its colour, it has no state to read.
  root->addSubview(sample::makeLabel(CGRectMake(20, y, 200, 31), "Custom toggle", ""));
  auto custom = objc::makeInstanceOf<UIView>(toggleClass(), CGRectMake(width - 20 - 51, y, 51, 31));
  custom->setBackgroundColor(UIColor::lightGrayColor());
  custom->layer()->setCornerRadius(15.5);
  custom->setAccessibilityIdentifier("customToggle");
  std::weak_ptr<UIView> weakCustom = custom;
  custom->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([weakCustom](const auto& recognizer) {
    auto view = weakCustom.lock();
    if (!view || recognizer->state() != UIGestureRecognizerStateEnded) return;
    bool gray = UIColorEqualToColor(view->backgroundColor(), UIColor::lightGrayColor());
    view->setBackgroundColor(gray ? UIColor::systemBlueColor() : UIColor::lightGrayColor());
  }));
  root->addSubview(custom);
  y += 44;

  // Hidden: neither it nor its button is on screen.
  auto hidden = std::make_shared<UIView>(CGRectMake(20, y, width - 40, 44));
  hidden->setHidden(true);
  hidden->setAccessibilityIdentifier("hiddenContainer");
  auto secret = std::make_shared<UIButton>(CGRectMake(0, 0, 160, 44));
  secret->setTitle("Secret", UIControlStateNormal);
  secret->setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
  secret->setAccessibilityIdentifier("secretButton");
  hidden->addSubview(secret);
  root->addSubview(hidden);
  y += 52;

  auto logo = std::make_shared<UIImageView>(CGRectMake(20, y, 48, 48));
  logo->setImage(logoImage());
  logo->setAccessibilityIdentifier("logoImage");
  root->addSubview(logo);

  auto tapArea = std::make_shared<UIView>(CGRectMake(88, y, width - 108, 48));
  tapArea->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
  tapArea->layer()->setCornerRadius(8);
  tapArea->setAccessibilityIdentifier("tapArea");
  auto tapLabel = sample::makeLabel(CGRectMake(12, 0, width - 132, 48), "Tap here", "tapAreaLabel");
  tapArea->addSubview(tapLabel);
  tapArea->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([weak](const auto& recognizer) {
    auto self = weak.lock();
    if (!self || recognizer->state() != UIGestureRecognizerStateEnded) return;
    ++self->taps_;
    self->status_->setText("Tapped " + std::to_string(self->taps_) + (self->taps_ == 1 ? " time" : " times"));
  }));
  root->addSubview(tapArea);
  y += 64;

  // A label three levels down.
  auto outer = std::make_shared<UIView>(CGRectMake(20, y, width - 40, 60));
  outer->setAccessibilityIdentifier("outerBox");
  outer->layer()->setBorderWidth(1);
  outer->layer()->setBorderColor(CGColorCreateGenericGray(0.8, 1));
  auto middle = std::make_shared<UIView>(CGRectMake(8, 8, width - 56, 44));
  middle->setAccessibilityIdentifier("middleBox");
  auto inner = std::make_shared<UIView>(CGRectMake(8, 4, width - 72, 36));
  inner->setAccessibilityIdentifier("innerBox");
  inner->addSubview(sample::makeLabel(CGRectMake(4, 4, width - 80, 28), "Deep label", "deepLabel", 15));
  middle->addSubview(inner);
  outer->addSubview(middle);
  root->addSubview(outer);
  y += 68;

  switchChangesLabel_ = sample::makeLabel(CGRectMake(20, y, width - 40, 24), sample::countText("Switch changes", 0),
                                          "switchChanges", 15);
  root->addSubview(switchChangesLabel_);
}
