// Image contexts, image drawing, the crop pattern built on them, and the JPEG and
// PNG codecs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "render_helpers.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/UIImagePNG.h"

using namespace rendertest;

namespace {

// An image of `size` points at `scale`, filled by `draw` (context operations).
template <class F>
std::shared_ptr<UIImage> makeImage(CGSize size, CGFloat scale, F draw) {
  UIGraphicsBeginImageContextWithOptions(size, false, scale);
  draw(UIGraphicsGetCurrentContext());
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return image;
}

void fill(CGContextRef context, CGRect rect, CGFloat r, CGFloat g, CGFloat b) {
  CGContextSetFillColorWithColor(context, CGColorCreateSRGB(r, g, b, 1));
  CGContextFillRect(context, rect);
}

// The image operation as the agent writes it: a context of the rectangle's size at
// the image's scale, the image drawn at minus the rectangle's origin.
std::shared_ptr<UIImage> crop(const std::shared_ptr<UIImage>& image, CGRect rect) {
  UIGraphicsBeginImageContextWithOptions(rect.size, false, image->scale());
  image->drawAtPoint({-rect.origin.x, -rect.origin.y});
  auto cropped = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return cropped;
}

}  // namespace

TEST(ImageContext, SizeScaleAndStackPerThread) {
  EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
  EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);

  UIGraphicsBeginImageContextWithOptions({40, 20}, false, 0);  // screen scale
  CGContextRef outer = UIGraphicsGetCurrentContext();
  ASSERT_NE(outer, nullptr);
  UIGraphicsBeginImageContextWithOptions({10, 10}, false, 3);
  CGContextRef inner = UIGraphicsGetCurrentContext();
  EXPECT_NE(inner, outer);

  // Another thread has a stack of its own.
  CGContextRef seenElsewhere = outer;
  std::thread([&] { seenElsewhere = UIGraphicsGetCurrentContext(); }).join();
  EXPECT_EQ(seenElsewhere, nullptr);

  auto small = UIGraphicsGetImageFromCurrentImageContext();
  EXPECT_EQ(small->pixelWidth(), 30);
  EXPECT_EQ(small->scale(), 3.0);
  UIGraphicsEndImageContext();
  EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  EXPECT_EQ(image->scale(), UIScreen::mainScreen()->scale());
  EXPECT_EQ(image->size(), CGSizeMake(40, 20));
  UIGraphicsEndImageContext();
  EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
  UIGraphicsEndImageContext();  // an extra end is harmless
}

TEST(ImageContext, EmptyOrAbsurdSizesGiveNoImage) {
  for (CGSize size : {CGSizeMake(0, 10), CGSizeMake(-5, 10), CGSizeMake(NAN, 4), CGSizeMake(1e9, 1e9)}) {
    UIGraphicsBeginImageContextWithOptions(size, false, 2);
    ASSERT_NE(UIGraphicsGetCurrentContext(), nullptr);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 5, 5));
    EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
    UIGraphicsEndImageContext();
  }
}

TEST(ImageContext, OpaqueContextsHaveNoTransparency) {
  auto draw = [](bool opaque) {
    UIGraphicsBeginImageContextWithOptions({4, 4}, opaque, 1);
    CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), CGColorCreateSRGB(1, 0, 0, 0.5));
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 2, 4));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
  };
  auto opaque = draw(true);
  EXPECT_EQ(pixel(opaque, 3, 0).a, 255);  // undrawn: black
  EXPECT_TRUE(near(pixel(opaque, 3, 0), 0, 0, 0, 0));
  EXPECT_EQ(pixel(opaque, 0, 0).a, 255);  // half red over black
  EXPECT_TRUE(near(pixel(opaque, 0, 0), 128, 0, 0, 2));
  auto clear = draw(false);
  EXPECT_EQ(clear->pixelAt(3, 0), 0u);
  EXPECT_NEAR(pixel(clear, 0, 0).a, 128, 1);
}

TEST(ImageDrawing, DrawInRectScalesAndDrawAtPointUsesPointSize) {
  // 2 x 2 points at scale 2: left half red, right half blue.
  auto image = makeImage({2, 2}, 2, [](CGContextRef c) {
    fill(c, CGRectMake(0, 0, 1, 2), 1, 0, 0);
    fill(c, CGRectMake(1, 0, 1, 2), 0, 0, 1);
  });
  ASSERT_EQ(image->pixelWidth(), 4);
  auto scaled = makeImage({8, 4}, 1, [&](CGContextRef) { image->drawInRect(CGRectMake(0, 0, 8, 4)); });
  EXPECT_TRUE(near(pixel(scaled, 1, 2), 255, 0, 0));
  EXPECT_TRUE(near(pixel(scaled, 6, 2), 0, 0, 255));
  auto placed = makeImage({6, 6}, 1, [&](CGContextRef) { image->drawAtPoint({3, 3}); });
  EXPECT_EQ(placed->pixelAt(2, 2), 0u);  // outside the 2 x 2 point image
  EXPECT_TRUE(near(pixel(placed, 3, 4), 255, 0, 0, 40));
  EXPECT_TRUE(near(pixel(placed, 4, 4), 0, 0, 255, 40));
  // Without a context nothing happens (and nothing breaks).
  image->drawAtPoint({0, 0});
}

TEST(ImageDrawing, CropOfTheMiddleKeepsScaleAndContent) {
  // 100 x 100 points at scale 2: blue, a red middle (25...75) whose top-left
  // 10 x 10 points are green.
  auto source = makeImage({100, 100}, 2, [](CGContextRef c) {
    fill(c, CGRectMake(0, 0, 100, 100), 0, 0, 1);
    fill(c, CGRectMake(25, 25, 50, 50), 1, 0, 0);
    fill(c, CGRectMake(25, 25, 10, 10), 0, 1, 0);
  });
  auto cropped = crop(source, CGRectMake(25, 25, 50, 50));
  ASSERT_NE(cropped, nullptr);
  EXPECT_EQ(cropped->size(), CGSizeMake(50, 50));
  EXPECT_EQ(cropped->scale(), 2.0);
  EXPECT_EQ(cropped->pixelWidth(), 100);
  EXPECT_TRUE(near(pointColor(cropped, 2, 2), 0, 255, 0, 0));
  EXPECT_TRUE(near(pointColor(cropped, 25, 25), 255, 0, 0, 0));
  for (auto [x, y] : {std::pair{0, 99}, {99, 0}, {99, 99}, {50, 99}}) {
    EXPECT_TRUE(near(pixel(cropped, x, y), 255, 0, 0, 0)) << x << "," << y;  // no blue border
  }
  // A rectangle reaching outside the image leaves the outside transparent.
  auto edge = crop(source, CGRectMake(-90, -90, 300, 200));
  EXPECT_EQ(edge->size(), CGSizeMake(300, 200));
  EXPECT_EQ(pointColor(edge, 10, 10).a, 0);
  EXPECT_TRUE(near(pointColor(edge, 95, 95), 0, 0, 255, 0));
}

TEST(JPEG, EncodesAndDecodes) {
  auto image = makeImage({40, 20}, 2, [](CGContextRef c) {
    fill(c, CGRectMake(0, 0, 20, 20), 1, 0, 0);
    fill(c, CGRectMake(20, 0, 20, 20), 0, 0, 1);
  });
  auto jpeg = UIImageJPEGRepresentation(image, 0.6);
  ASSERT_TRUE(jpeg.has_value());
  ASSERT_GT(jpeg->size(), 2u);
  EXPECT_EQ((*jpeg)[0], 0xFF);
  EXPECT_EQ((*jpeg)[1], 0xD8);
  auto decoded = UIImageWithJPEGData(*jpeg, 2);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->pixelWidth(), 80);
  EXPECT_EQ(decoded->pixelHeight(), 40);
  EXPECT_EQ(decoded->scale(), 2.0);
  EXPECT_TRUE(near(pixel(decoded, 20, 20), 255, 0, 0, 12));
  EXPECT_TRUE(near(pixel(decoded, 60, 20), 0, 0, 255, 12));
  EXPECT_EQ(pixel(decoded, 20, 20).a, 255);
}

TEST(JPEG, QualityTransparencyAndBadInput) {
  // A noisy image compresses worse at high quality.
  auto noisy = makeImage({64, 64}, 1, [](CGContextRef c) {
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        fill(c, CGRectMake(x, y, 1, 1), ((x * 37 + y * 11) % 97) / 97.0, ((x * 13 + y * 71) % 89) / 89.0, 0.5);
      }
    }
  });
  auto low = UIImageJPEGRepresentation(noisy, 0.1);
  auto high = UIImageJPEGRepresentation(noisy, 1.0);
  ASSERT_TRUE(low && high);
  EXPECT_LT(low->size(), high->size());
  EXPECT_TRUE(UIImageJPEGRepresentation(noisy, NAN).has_value());
  EXPECT_TRUE(UIImageJPEGRepresentation(noisy, 7.0).has_value());

  // Transparent pixels come out black.
  auto transparent = std::make_shared<UIImage>(8, 8, 1.0);
  auto decoded = UIImageWithJPEGData(*UIImageJPEGRepresentation(transparent, 0.9));
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(near(pixel(decoded, 4, 4), 0, 0, 0, 4));

  EXPECT_FALSE(UIImageJPEGRepresentation(nullptr, 0.6).has_value());
  EXPECT_FALSE(UIImageJPEGRepresentation(std::make_shared<UIImage>(), 0.6).has_value());
  EXPECT_EQ(UIImageWithJPEGData(NSData{}), nullptr);
  EXPECT_EQ(UIImageWithJPEGData(foundation::dataFromString("not a jpeg at all")), nullptr);
  auto truncatedJpeg = *high;
  truncatedJpeg.resize(20);
  EXPECT_EQ(UIImageWithJPEGData(truncatedJpeg), nullptr);
}

TEST(PNG, RoundTripsThroughDataAndFiles) {
  auto image = makeImage({3, 2}, 1, [](CGContextRef c) {
    fill(c, CGRectMake(0, 0, 1, 2), 1, 0, 0);
    CGContextSetFillColorWithColor(c, CGColorCreateSRGB(0, 1, 0, 0.5));
    CGContextFillRect(c, CGRectMake(1, 0, 1, 2));
  });
  auto png = UIImagePNGRepresentation(image);
  ASSERT_TRUE(png.has_value());
  auto decoded = UIImageWithPNGData(*png, 3.0);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->pixelWidth(), 3);
  EXPECT_EQ(decoded->scale(), 3.0);
  for (int x = 0; x < 3; ++x) {
    RGBA a = pixel(image, x, 1), b = pixel(decoded, x, 1);
    EXPECT_NEAR(a.a, b.a, 1);
    EXPECT_NEAR(a.g, b.g, 1);
  }
  EXPECT_FALSE(UIImagePNGRepresentation(std::make_shared<UIImage>()).has_value());
  EXPECT_EQ(UIImageWithPNGData(foundation::dataFromString("\x89PNG broken")), nullptr);

  auto dir = std::filesystem::temp_directory_path() / ("qv_png_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto path = (dir / "shot.png").string();
  ASSERT_TRUE(UIImageWritePNGToFile(image, path));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  NSData bytes(static_cast<std::size_t>(std::filesystem::file_size(path)));
  ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
  EXPECT_EQ(bytes, *png);
  EXPECT_FALSE(UIImageWritePNGToFile(image, (dir / "missing" / "x.png").string()));
  EXPECT_FALSE(UIImageWritePNGToFile(nullptr, path));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 1u);  // no temporary left behind
  std::filesystem::remove_all(dir);
}
