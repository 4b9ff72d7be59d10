#include "Screens.h"

QV_OBJC_DEFINE_CLASS(WebViewController, UIViewController)

void WebViewController::viewDidLoad() {
  auto root = view();
  auto label = sample::makeLabel(CGRectMake(20, 40, root->bounds().size.width - 40, 60),
                                 "Web content is not available yet", "webPlaceholder");
  label->setNumberOfLines(2);
  label->setTextAlignment(NSTextAlignmentCenter);
  label->setTextColor(UIColor::grayColor());
  root->addSubview(label);
}
