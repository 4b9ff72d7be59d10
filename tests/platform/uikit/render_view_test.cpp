// Drawing of view hierarchies: geometry, visibility, clipping, alpha, layers, and
// the look of the toolkit's controls.
#include <gtest/gtest.h>

#include "render_helpers.h"
#include "uikit/UIImageJPEG.h"

using namespace rendertest;

TEST(RenderView, RedViewAtScaleTwoGivesARedJPEG) {
  auto view = coloredView(CGRectMake(0, 0, 40, 20), UIColor::redColor());
  auto image = render(view, 2.0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixelWidth(), 80);
  EXPECT_EQ(image->pixelHeight(), 40);
  EXPECT_TRUE(near(pixel(image, 0, 0), 255, 0, 0, 0));
  EXPECT_TRUE(near(pixel(image, 79, 39), 255, 0, 0, 0));
  auto jpeg = UIImageJPEGRepresentation(image, 0.6);
  ASSERT_TRUE(jpeg.has_value());
  auto decoded = UIImageWithJPEGData(*jpeg, 2.0);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->pixelWidth(), 80);
  EXPECT_EQ(decoded->pixelHeight(), 40);
  EXPECT_TRUE(near(pixel(decoded, 40, 20), 255, 0, 0, 10));
}

TEST(RenderView, NeedsAContextAndFillsTheGivenRect) {
  auto view = coloredView(CGRectMake(0, 0, 100, 100), UIColor::blueColor());
  EXPECT_FALSE(view->drawViewHierarchyInRect(CGRectMake(0, 0, 10, 10), false));

  // Drawn into the right half of a 100 x 50 context: scaled to 50 x 50.
  UIGraphicsBeginImageContextWithOptions({100, 50}, false, 1);
  EXPECT_TRUE(view->drawViewHierarchyInRect(CGRectMake(50, 0, 50, 50), false));
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  EXPECT_EQ(image->pixelAt(25, 25), 0u);
  EXPECT_TRUE(near(pixel(image, 75, 25), 0, 0, 255, 0));
  EXPECT_TRUE(near(pixel(image, 99, 49), 0, 0, 255, 0));
}

TEST(RenderView, SubviewsFollowFramesBoundsOriginAndVisibility) {
  auto root = coloredView(CGRectMake(0, 0, 100, 100), UIColor::whiteColor());
  auto blue = coloredView(CGRectMake(10, 10, 20, 20), UIColor::blueColor());
  auto hiddenParent = coloredView(CGRectMake(60, 60, 30, 30), UIColor::greenColor());
  auto childOfHidden = coloredView(CGRectMake(0, 0, 10, 10), UIColor::redColor());
  root->addSubview(blue);
  root->addSubview(hiddenParent);
  hiddenParent->addSubview(childOfHidden);
  hiddenParent->setHidden(true);

  auto image = render(root, 1);
  EXPECT_TRUE(near(pointColor(image, 15, 15), 0, 0, 255, 0));
  EXPECT_TRUE(near(pointColor(image, 5, 5), 255, 255, 255, 0));
  EXPECT_TRUE(near(pointColor(image, 65, 65), 255, 255, 255, 0));  // hidden subtree skipped

  // A bounds origin scrolls the content: (10, 10) now shows at (0, 0).
  root->setBounds(CGRectMake(10, 10, 100, 100));
  image = render(root, 1);
  EXPECT_TRUE(near(pointColor(image, 2, 2), 0, 0, 255, 0));
  EXPECT_TRUE(near(pointColor(image, 25, 25), 255, 255, 255, 0));

  // A hidden receiver draws nothing at all; a fully transparent one neither.
  root->setHidden(true);
  EXPECT_EQ(render(root, 1)->pixelAt(50, 50), 0u);
  root->setHidden(false);
  root->setAlpha(0);
  EXPECT_EQ(render(root, 1)->pixelAt(50, 50), 0u);
}

TEST(RenderView, ClipsToBoundsAndAlpha) {
  auto root = coloredView(CGRectMake(0, 0, 100, 100), UIColor::whiteColor());
  auto box = coloredView(CGRectMake(10, 10, 40, 40), UIColor::blueColor());
  auto overflow = coloredView(CGRectMake(30, 30, 40, 40), UIColor::redColor());
  root->addSubview(box);
  box->addSubview(overflow);

  auto image = render(root, 1);
  EXPECT_TRUE(near(pointColor(image, 70, 70), 255, 0, 0, 0));  // not clipped
  box->setClipsToBounds(true);
  image = render(root, 1);
  EXPECT_TRUE(near(pointColor(image, 70, 70), 255, 255, 255, 0));
  EXPECT_TRUE(near(pointColor(image, 45, 45), 255, 0, 0, 0));

  // Half transparent: red and its parent's blue over white, as a group.
  box->setAlpha(0.5);
  image = render(root, 1);
  EXPECT_TRUE(near(pointColor(image, 45, 45), 255, 128, 128, 3));
  EXPECT_TRUE(near(pointColor(image, 15, 15), 128, 128, 255, 3));
}

TEST(RenderView, LayerBorderAndCornerRadius) {
  auto view = coloredView(CGRectMake(0, 0, 60, 60), UIColor::whiteColor());
  view->layer()->setBorderWidth(4);
  view->layer()->setBorderColor(CGColorCreateSRGB(0, 1, 0, 1));
  auto image = render(view, 1);
  EXPECT_TRUE(near(pointColor(image, 30, 1), 0, 255, 0, 0));
  EXPECT_TRUE(near(pointColor(image, 1, 30), 0, 255, 0, 0));
  EXPECT_TRUE(near(pointColor(image, 30, 30), 255, 255, 255, 0));

  // The border lies over the subviews.
  view->addSubview(coloredView(CGRectMake(0, 0, 60, 10), UIColor::redColor()));
  image = render(view, 1);
  EXPECT_TRUE(near(pointColor(image, 30, 1), 0, 255, 0, 0));

  auto round = coloredView(CGRectMake(0, 0, 60, 60), UIColor::blackColor());
  round->layer()->setCornerRadius(20);
  image = render(round, 1);
  EXPECT_EQ(pointColor(image, 1, 1).a, 0);
  EXPECT_EQ(pointColor(image, 30, 30).a, 255);
}

TEST(RenderView, LabelsDrawTheirText) {
  auto label = std::make_shared<UILabel>(CGRectMake(0, 0, 120, 30));
  label->setBackgroundColor(UIColor::whiteColor());
  EXPECT_EQ(darkPixels(render(label)), 0);
  label->setText("Hello");
  int dark = darkPixels(render(label));
  EXPECT_GT(dark, 50);
  label->setText("Hello, world and more");
  EXPECT_GT(darkPixels(render(label)), dark);

  // Text colour and alignment.
  label->setText("Red");
  label->setTextColor(UIColor::redColor());
  auto image = render(label, 1);
  EXPECT_EQ(darkPixels(image), 0);
  int redLeft = 0, redRight = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 120; ++x) {
      RGBA c = pixel(image, x, y);
      if (c.r > 200 && c.g < 120) (x < 60 ? redLeft : redRight)++;
    }
  }
  EXPECT_GT(redLeft, 10);
  EXPECT_EQ(redRight, 0);
  label->setTextAlignment(NSTextAlignmentRight);
  image = render(label, 1);
  EXPECT_TRUE(near(pointColor(image, 5, 15), 255, 255, 255, 0));

  // A long single line stays inside the label (truncated), wrapped lines too.
  label->setTextColor(UIColor::blackColor());
  label->setTextAlignment(NSTextAlignmentLeft);
  label->setText(std::string(200, 'W'));
  auto holder = coloredView(CGRectMake(0, 0, 300, 30), UIColor::whiteColor());
  holder->addSubview(label);
  image = render(holder, 1);
  int outside = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 125; x < 300; ++x) outside += pixel(image, x, y).r < 128;
  }
  EXPECT_EQ(outside, 0);
}

TEST(RenderView, LabelsSizedToFitShowTheirWholeTextAtEveryScale) {
  for (const char* text : {"OK", "Cancel", "Log In", "Welcome, Zo\xC3\xAB", "WWWWWWWW iiiiiii"}) {
    auto fitted = std::make_shared<UILabel>();
    fitted->setText(text);
    fitted->setBold(text[0] == 'W');
    fitted->sizeToFit();
    auto roomy = std::make_shared<UILabel>(CGRectMake(0, 0, fitted->bounds().size.width + 60, fitted->bounds().size.height));
    roomy->setText(text);
    roomy->setBold(text[0] == 'W');
    for (CGFloat scale : {1.0, 2.0, 3.0}) {
      // Truncation would replace the end of the text by an ellipsis: fewer ink pixels.
      EXPECT_EQ(darkPixels(render(fitted, scale)), darkPixels(render(roomy, scale))) << text << " at " << scale;
    }
  }
}

TEST(RenderView, TextFieldsShowTextOrAGreyPlaceholder) {
  auto field = std::make_shared<UITextField>(CGRectMake(0, 0, 200, 40));
  field->setBackgroundColor(UIColor::whiteColor());
  field->setPlaceholder("User name");
  auto image = render(field);
  EXPECT_EQ(darkPixels(image), 0);   // grey, not black
  EXPECT_GT(darkPixels(image, 230), 30);  // but visible
  field->setText("bob");
  EXPECT_GT(darkPixels(render(field)), 30);

  field->setBorderStyle(UITextBorderStyleLine);
  image = render(field, 1);
  EXPECT_TRUE(near(pointColor(image, 100, 0.5), 0, 0, 0, 20));
}

TEST(RenderView, SwitchesShowTheirState) {
  auto toggle = std::make_shared<UISwitch>(CGRectMake(0, 0, 0, 0));
  auto off = render(toggle, 2);
  EXPECT_EQ(off->size(), UISwitch::kSize);
  toggle->setOn(true);
  auto on = render(toggle, 2);
  // Left part of the track: green when on; the thumb is white and on the right.
  RGBA trackOn = pointColor(on, 12, 15.5);
  EXPECT_GT(trackOn.g, 150);
  EXPECT_LT(trackOn.r, 120);
  EXPECT_TRUE(near(pointColor(on, 36, 15.5), 255, 255, 255, 4));
  RGBA trackOff = pointColor(off, 40, 15.5);
  EXPECT_FALSE(trackOff.g > 150 && trackOff.r < 120);
  EXPECT_TRUE(near(pointColor(off, 15, 15.5), 255, 255, 255, 4));
}

TEST(RenderView, SegmentedControlHighlightsTheSelectedSegment) {
  auto control = std::make_shared<UISegmentedControl>(CGRectMake(0, 0, 200, 32));
  control->initWithItems({"One", "Two"});
  control->setSelectedSegmentIndex(1);
  control->layoutIfNeeded();
  auto image = render(control, 1);
  RGBA left = pointColor(image, 10, 16), right = pointColor(image, 190, 16);
  EXPECT_LT(left.r, right.r);  // grey background, white selected segment
  EXPECT_EQ(right.r, 255);
  control->setSelectedSegmentIndex(0);
  image = render(control, 1);
  EXPECT_GT(pointColor(image, 10, 16).r, pointColor(image, 190, 16).r);
}

TEST(RenderView, ImageViewsScaleTheirImageToFit) {
  UIGraphicsBeginImageContextWithOptions({10, 10}, false, 1);
  CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), CGColorCreateSRGB(1, 0, 0, 1));
  CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 10, 10));
  auto square = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();

  auto view = std::make_shared<UIImageView>(CGRectMake(0, 0, 100, 50));
  view->setImage(square);
  auto image = render(view, 1);
  EXPECT_TRUE(near(pointColor(image, 50, 25), 255, 0, 0, 0));
  EXPECT_TRUE(near(pointColor(image, 26, 1), 255, 0, 0, 0));
  EXPECT_EQ(pointColor(image, 10, 25).a, 0);  // aspect kept: bars at the sides
  EXPECT_EQ(pointColor(image, 90, 25).a, 0);
}

namespace {

class CrossView : public UIView {
 public:
  using UIView::UIView;
  void drawRect(CGRect rect) override {
    seen = rect;
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetFillColorWithColor(c, CGColorCreateSRGB(0, 1, 0, 1));
    CGContextFillRect(c, CGRectMake(rect.origin.x, rect.origin.y, 10, 10));
  }
  CGRect seen = CGRectNull;
};

}  // namespace

TEST(RenderView, CustomViewsDrawTheirOwnContent) {
  auto view = std::make_shared<CrossView>(CGRectMake(0, 0, 40, 40));
  view->setBackgroundColor(UIColor::whiteColor());
  view->setBounds(CGRectMake(5, 5, 40, 40));
  auto child = coloredView(CGRectMake(5, 5, 5, 5), UIColor::blueColor());
  view->addSubview(child);
  auto image = render(view, 1);
  EXPECT_EQ(view->seen, CGRectMake(5, 5, 40, 40));
  EXPECT_TRUE(near(pointColor(image, 7, 7), 0, 255, 0, 0));  // own drawing, in bounds coordinates
  EXPECT_TRUE(near(pointColor(image, 2, 2), 0, 0, 255, 0));  // subviews above it
  EXPECT_TRUE(near(pointColor(image, 20, 20), 255, 255, 255, 0));
}

TEST(RenderView, ScreenSnapshotLayersTheWindows) {
  auto app = UIApplication::sharedApplication();
  CGRect screen = UIScreen::mainScreen()->bounds();
  auto window = std::make_shared<UIWindow>(screen);
  window->setBackgroundColor(UIColor::whiteColor());
  window->addSubview(coloredView(CGRectMake(0, 0, 50, 50), UIColor::blueColor()));
  window->makeKeyAndVisible();
  auto overlay = std::make_shared<UIWindow>(CGRectMake(0, screen.size.height - 100, screen.size.width, 100));
  overlay->setWindowLevel(UIWindowLevelAlert);
  overlay->setBackgroundColor(UIColor::redColor());
  overlay->setHidden(false);

  auto shot = UIScreenSnapshotImage(true);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->size(), screen.size);
  EXPECT_EQ(shot->scale(), UIScreen::mainScreen()->scale());
  EXPECT_TRUE(near(pointColor(shot, 10, 10), 0, 0, 255, 0));
  EXPECT_TRUE(near(pointColor(shot, 100, 100), 255, 255, 255, 0));
  EXPECT_TRUE(near(pointColor(shot, 100, screen.size.height - 50), 255, 0, 0, 0));

  overlay->setHidden(true);
  shot = UIScreenSnapshotImage(false);
  EXPECT_TRUE(near(pointColor(shot, 100, screen.size.height - 50), 255, 255, 255, 0));
  window->setHidden(true);
  shot = UIScreenSnapshotImage(false);
  EXPECT_TRUE(near(pointColor(shot, 10, 10), 0, 0, 0, 0));  // nothing shown: a black screen
  EXPECT_EQ(pointColor(shot, 10, 10).a, 255);
  (void)app;
}

TEST(RenderView, AlertsDimTheScreenAndShowTheirTexts) {
  CGRect screen = UIScreen::mainScreen()->bounds();
  auto window = std::make_shared<UIWindow>(screen);
  window->setBackgroundColor(UIColor::whiteColor());
  window->makeKeyAndVisible();
  auto before = UIScreenSnapshotImage(true);

  auto alert = std::make_shared<UIAlertView>("Title", "A message", nullptr, "Cancel", std::vector<std::string>{"OK"});
  alert->show();
  auto shot = UIScreenSnapshotImage(true);
  if (const char* keep = std::getenv("QV_KEEP_RENDERINGS")) UIImageWritePNGToFile(shot, std::string(keep) + "/alert.png");
  EXPECT_TRUE(near(pointColor(shot, 10, 10), 153, 153, 153, 3));  // white under the 40% black overlay
  CGRect box = alert->convertRectToView(alert->bounds(), nullptr);
  int dark = 0;
  for (double y = box.origin.y; y < CGRectGetMaxY(box); y += 0.5) {
    for (double x = box.origin.x; x < CGRectGetMaxX(box); x += 0.5) {
      RGBA c = pointColor(shot, x, y);
      dark += c.r < 90 && c.g < 90 && c.b < 90;
    }
  }
  EXPECT_GT(dark, 100);  // title and message
  EXPECT_NE(pointColor(before, box.origin.x + 20, box.origin.y + 10).r, pointColor(shot, box.origin.x + 20, box.origin.y + 10).r + 0);
  alert->dismissWithClickedButtonIndex(0, false);
  window->setHidden(true);
}
