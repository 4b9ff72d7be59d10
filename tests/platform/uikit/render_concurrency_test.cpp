// Rendering reads views from any thread: a hierarchy drawn on background threads
// while the main thread keeps changing it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "render_helpers.h"
#include "uikit/UIImageJPEG.h"

using namespace rendertest;

TEST(RenderConcurrency, BackgroundRenderingWhileTheMainThreadChangesTheTree) {
  auto root = coloredView(CGRectMake(0, 0, 200, 300), UIColor::whiteColor());
  auto label = std::make_shared<UILabel>(CGRectMake(10, 10, 180, 30));
  auto field = std::make_shared<UITextField>(CGRectMake(10, 50, 180, 30));
  field->setPlaceholder("Name");
  auto toggle = std::make_shared<UISwitch>(CGRectMake(10, 90, 0, 0));
  auto image = std::make_shared<UIImageView>(CGRectMake(10, 130, 40, 40));
  auto container = coloredView(CGRectMake(10, 180, 180, 100), UIColor::lightGrayColor());
  for (const auto& v : std::vector<std::shared_ptr<UIView>>{label, field, toggle, image, container}) root->addSubview(v);

  std::atomic<bool> done{false};
  std::atomic<int> frames{0};
  std::vector<std::thread> renderers;
  for (int t = 0; t < 2; ++t) {
    renderers.emplace_back([&] {
      while (!done.load()) {
        auto shot = render(root, 1);
        if (shot && UIImageJPEGRepresentation(shot, 0.6)) frames.fetch_add(1);
      }
    });
  }

  auto tiny = std::make_shared<UIImage>(4, 4, 1.0);
  int i = 0;
  for (; i < 400 || frames.load() < 20; ++i) {
    label->setText("Line " + std::to_string(i));
    label->setTextColor(i % 2 ? UIColor::redColor() : UIColor::blackColor());
    field->setText(i % 3 ? std::string("abc") : std::string());
    toggle->setOn(i % 2 == 0);
    image->setImage(i % 2 ? tiny : nullptr);
    container->setHidden(i % 5 == 0);
    container->setBounds(CGRectMake(0, i % 20, 180, 100));
    container->layer()->setBorderWidth(i % 4);
    container->layer()->setCornerRadius(i % 7);
    auto child = coloredView(CGRectMake(i % 100, 5, 20, 20), UIColor::blueColor());
    container->addSubview(child);
    if (container->subviews().size() > 5) container->subviews().front()->removeFromSuperview();
    root->setAlpha(i % 3 ? 1.0 : 0.7);
    if (i > 100000) break;  // the renderers stalled: fail below rather than spin
  }
  done.store(true);
  for (auto& t : renderers) t.join();
  EXPECT_GE(frames.load(), 20);
}
