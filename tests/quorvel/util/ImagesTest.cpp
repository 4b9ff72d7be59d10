#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "foundation/data.h"
#include "quorvel/util/UIImage+UIImage_Crop.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/uikit.h"

namespace {

struct RGBA {
  int r, g, b, a;
};

RGBA pixel(const std::shared_ptr<UIImage>& image, int x, int y) {
  std::uint32_t p = image->pixelAt(x, y);
  return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF),
          static_cast<int>(p >> 24)};
}

// The colour under a point (points, image coordinates).
RGBA at(const std::shared_ptr<UIImage>& image, double x, double y) {
  return pixel(image, static_cast<int>(x * image->scale()), static_cast<int>(y * image->scale()));
}

bool near(const RGBA& c, int r, int g, int b, int tolerance = 24) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance;
}

std::shared_ptr<UIView> coloredView(CGRect frame, const std::shared_ptr<UIColor>& color) {
  auto view = std::make_shared<UIView>(frame);
  view->setBackgroundColor(color);
  return view;
}

// An opaque image whose pixel (x, y) has green x and blue y.
std::shared_ptr<UIImage> coordinateImage(int width, int height, CGFloat scale) {
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width * height * 4));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t value = 0xFF000000u | (static_cast<std::uint32_t>(x) << 8) | static_cast<std::uint32_t>(y);
      std::memcpy(pixels->data() + (y * width + x) * 4, &value, 4);
    }
  }
  return std::make_shared<UIImage>(pixels, width, height, width * 4, scale);
}

TEST(ImagesTest, CropKeepsTheScaleAndShowsTheRectangle) {
  auto source = coordinateImage(200, 200, 2.0);  // 100 x 100 points
  auto cropped = UIImage_Crop::crop(source, CGRectMake(25, 25, 50, 50));
  ASSERT_NE(cropped, nullptr);
  EXPECT_EQ(cropped->size().width, 50);
  EXPECT_EQ(cropped->size().height, 50);
  EXPECT_EQ(cropped->scale(), 2.0);
  ASSERT_EQ(cropped->pixelWidth(), 100);
  // Pixel (i, j) of the crop is pixel (i + 50, j + 50) of the source.
  for (auto [i, j] : {std::pair{0, 0}, std::pair{99, 0}, std::pair{0, 99}, std::pair{99, 99}, std::pair{37, 61}}) {
    RGBA c = pixel(cropped, i, j);
    EXPECT_EQ(c.g, i + 50) << i << "," << j;
    EXPECT_EQ(c.b, j + 50) << i << "," << j;
    EXPECT_EQ(c.a, 255);
  }
  // Outside the source the crop is transparent.
  auto beyond = UIImage_Crop::crop(source, CGRectMake(-10, 0, 20, 10));
  EXPECT_EQ(pixel(beyond, 0, 0).a, 0);
  EXPECT_EQ(pixel(beyond, 30, 0).g, 10);
  EXPECT_EQ(UIImage_Crop::crop(nullptr, CGRectMake(0, 0, 10, 10)), nullptr);
}

TEST(ImagesTest, TouchedAreaIsThreeHundredByTwoHundredAroundTheTouch) {
  CGRect rect = Utilities::touchedAreaRect(10, 10);
  EXPECT_EQ(rect.origin.x, -90);
  EXPECT_EQ(rect.origin.y, -90);
  EXPECT_EQ(rect.size.width, 300);
  EXPECT_EQ(rect.size.height, 200);

  auto view = coloredView(CGRectMake(0, 0, 100, 100), UIColor::redColor());
  view->addSubview(coloredView(CGRectMake(50, 50, 50, 50), UIColor::blueColor()));
  auto area = Utilities::getUIImageOfUIViewTouchedArea(view, 10, 10);
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area->size().width, 300);
  EXPECT_EQ(area->size().height, 200);
  EXPECT_EQ(at(area, 10, 10).a, 0);                   // left of and above the view
  EXPECT_TRUE(near(at(area, 95, 95), 255, 0, 0));     // the view's (5, 5)
  EXPECT_TRUE(near(at(area, 185, 185), 0, 0, 255));   // the subview
  EXPECT_EQ(at(area, 195, 100).a, 0);                 // right of the view
}

TEST(ImagesTest, ViewImageHasTheBoundsAtScreenScaleOpaqueOnlyForOpaqueViews) {
  auto view = coloredView(CGRectMake(30, 40, 60, 20), UIColor::clearColor());
  view->setOpaque(false);
  auto image = Utilities::getUIImageOfUIView(view);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size().width, 60);
  EXPECT_EQ(image->size().height, 20);
  EXPECT_EQ(image->scale(), UIScreen::mainScreen()->scale());
  EXPECT_EQ(at(image, 5, 5).a, 0);
  view->setOpaque(true);
  EXPECT_EQ(at(Utilities::getUIImageOfUIView(view), 5, 5).a, 255);

  // A scrolled view shows what it shows on screen: its content from the bounds origin.
  auto scrolled = coloredView(CGRectMake(0, 0, 100, 100), UIColor::blueColor());
  scrolled->addSubview(coloredView(CGRectMake(0, 50, 100, 50), UIColor::redColor()));
  scrolled->setBounds(CGRectMake(0, 50, 100, 100));
  auto shown = Utilities::getUIImageOfUIView(scrolled);
  EXPECT_TRUE(near(at(shown, 50, 10), 255, 0, 0));
  EXPECT_TRUE(near(at(shown, 50, 90), 0, 0, 255));
}

TEST(ImagesTest, Base64JPEGOfARedViewDecodesToRed) {
  auto view = coloredView(CGRectMake(0, 0, 40, 30), UIColor::redColor());
  auto text = Utilities::getBase64StringOfUIImageOfUIView(view);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->find('\n'), std::string::npos);
  EXPECT_NE(text->rfind("/9j/", 0), std::string::npos);  // JPEG data, no "data:" prefix
  auto data = foundation::base64Decode(*text);
  ASSERT_TRUE(data.has_value());
  auto decoded = UIImageWithJPEGData(*data, UIScreen::mainScreen()->scale());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->size().width, 40);
  EXPECT_TRUE(near(at(decoded, 20, 15), 255, 0, 0));

  auto area = Utilities::getBase64StringOfUIImageOfUIViewTouchedArea(view, 20, 15);
  ASSERT_TRUE(area.has_value());
  auto areaImage = UIImageWithJPEGData(*foundation::base64Decode(*area), UIScreen::mainScreen()->scale());
  ASSERT_NE(areaImage, nullptr);
  EXPECT_EQ(areaImage->size().width, 300);
  EXPECT_TRUE(near(at(areaImage, 100, 100), 255, 0, 0));  // the touched point
  EXPECT_TRUE(near(at(areaImage, 250, 150), 0, 0, 0));    // outside the view: black in a JPEG
}

TEST(ImagesTest, NothingToRenderGivesNoImage) {
  EXPECT_EQ(Utilities::getUIImageOfUIView(std::make_shared<UIBarButtonItem>()), nullptr);
  EXPECT_EQ(Utilities::getUIImageOfUIView(nullptr), nullptr);
  EXPECT_EQ(Utilities::getBase64StringOfUIImageOfUIView(std::make_shared<UIView>()), std::nullopt);  // no size
  EXPECT_EQ(Utilities::getBase64StringOfUIImageOfUIViewTouchedArea(nullptr, 0, 0), std::nullopt);
}

// The step builder renders on the recorded-action thread while the main thread
// changes the view.
TEST(ImagesTest, RenderingOnABackgroundThreadWhileTheViewChanges) {
  auto view = coloredView(CGRectMake(0, 0, 80, 80), UIColor::redColor());
  auto child = std::make_shared<UILabel>(CGRectMake(10, 10, 60, 20));
  view->addSubview(child);
  std::atomic<bool> stop{false};
  std::atomic<int> rendered{0};
  std::atomic<int> wrong{0};
  std::thread renderer([&] {
    while (!stop.load()) {
      auto text = Utilities::getBase64StringOfUIImageOfUIViewTouchedArea(view, 40, 40);
      auto image = text ? UIImageWithJPEGData(*foundation::base64Decode(*text), 2.0) : nullptr;
      // The corner stays the background colour: red or green.
      RGBA c = image ? at(image, 101, 101) : RGBA{0, 0, 0, 0};
      if (!near(c, 255, 0, 0, 40) && !near(c, 0, 255, 0, 40)) ++wrong;
      ++rendered;
    }
  });
  for (int i = 0; i < 200 || rendered.load() < 5; ++i) {
    view->setBackgroundColor(i % 2 ? UIColor::redColor() : UIColor::greenColor());
    child->setText(i % 2 ? "one" : std::optional<std::string>());
    child->setFrame(CGRectMake(10, 10 + i % 5, 60, 20));
  }
  stop = true;
  renderer.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
