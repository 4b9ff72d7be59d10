// The fast paths of finding and of the walks (visibility read once per ancestor,
// same-class indexes counted once per level, the accessor tested before visibility)
// against a straightforward walk on random view trees: both must give the same
// answers, view for view.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

#include "foundation/format.h"
#include "foundation/string.h"
#include "Screens.h"
#include "interpreter_helpers.h"
#include "quorvel/playback/AiAPI.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

using interpretertest::Command;
using interpretertest::run;
using ViewSet = std::set<std::shared_ptr<UIView>>;

// Coordinates on awkward fractions, so that a sum taken in another order would
// round differently; sizes of zero in one or both directions; offsets beyond the
// parent; clipping, scrolled bounds and hidden views here and there.
class RandomTree {
 public:
  explicit RandomTree(unsigned seed) : random_(seed) {}

  std::shared_ptr<UIWindow> make(int views) {
    auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
    std::vector<std::shared_ptr<UIView>> parents{window};
    for (int i = 0; i < views; ++i) {
      auto parent = parents[pick(parents.size())];
      auto view = makeView(i);
      parent->addSubview(view);
      parents.push_back(view);
    }
    window->makeKeyAndVisible();
    return window;
  }

 private:
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  double coordinate(double range) {
    static const double steps[] = {0.1, 1.0 / 3, 0.7, 2.5, 8.4};
    return static_cast<double>(pick(static_cast<std::size_t>(range))) * steps[pick(5)] - range / 8;
  }
  double size(double range) { return pick(8) == 0 ? 0 : coordinate(range) + range / 8; }

  std::shared_ptr<UIView> makeView(int i) {
    CGRect frame = CGRectMake(coordinate(400), coordinate(800), size(300), size(300));
    std::shared_ptr<UIView> view;
    switch (pick(4)) {
      case 0: {
        auto label = std::make_shared<UILabel>(frame);
        label->setText("Row " + std::to_string(i % 7) + (i % 2 ? " Item" : " ITEM"));
        view = label;
        break;
      }
      case 1: {
        auto button = std::make_shared<UIButton>(frame);
        button->setTitle("Go " + std::to_string(i % 5), UIControlStateNormal);
        view = button;
        break;
      }
      default:
        view = std::make_shared<UIView>(frame);
    }
    if (pick(4) == 0) view->setClipsToBounds(true);
    if (pick(6) == 0) view->setBounds(CGRectMake(coordinate(60), coordinate(60), frame.size.width, frame.size.height));
    if (pick(10) == 0) view->setHidden(true);
    return view;
  }

  std::mt19937 random_;
};

// The straightforward description of one view for the AI export: every trait asked
// on its own (tappability through every ancestor again), the image rendered alone.
JSONValue describeAlone(const std::shared_ptr<UIView>& view) {
  using namespace UIView_ToolkitAdditions;
  AiAPI ai;
  bool tappable = false;
  for (auto current = view; current && current->superview(); current = current->superview()) {
    tappable = tappable || isProbablyTappable(current);
  }
  auto text = [](bool value) { return value ? "true" : "false"; };
  auto number = [](double value) { return NSStringWithFormat("%.02f", value); };
  const auto superview = view->superview();
  const CGPoint origin = superview ? superview->convertPointToView(view->frame().origin, nullptr) : CGPointZero;
  const CGSize size = view->bounds().size;
  return {
      {"text", Utilities::getUIViewTextForPlayBack(view).value_or("")},
      {"elementType", view->className()},
      {"imageBase64", Utilities::getBase64StringOfUIImageOfUIView(view).value_or("")},
      {"childCount", std::to_string(view->subviews().size())},
      {"isProbablyTappable", text(tappable)},
      {"isVisibleInViewHierarchy", text(isVisibleInViewHierarchy(view))},
      {"isVisibleInWindowFrame", text(isVisibleInWindowFrame(view))},
      {"isUserInteractionEnabled", text(view->isUserInteractionEnabled())},
      {"isHidden", text(view->isHidden())},
      {"isEditable", text(view->isKindOfClass(UITextField::classObject()))},
      {"isScrollable", text(ai.isViewScrollable(view))},
      {"isImageObject", text(ai.IsImageTypeOfObject(view))},
      {"rectangle",
       {{"x", number(origin.x)}, {"y", number(origin.y)}, {"width", number(size.width)}, {"height", number(size.height)}}},
  };
}

// Every view below `root` in pre-order, by plain recursion over subviews().
void preOrder(const std::shared_ptr<UIView>& root, std::vector<std::shared_ptr<UIView>>& out) {
  for (const auto& view : root->subviews()) {
    out.push_back(view);
    preOrder(view, out);
  }
}

// The xpath of `view` worked out from scratch: its parent's, then its class and
// its index among the same-class subviews of its superview.
std::string xpathFromScratch(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& top) {
  auto parent = view->superview();
  std::string prefix = parent && parent != top ? xpathFromScratch(parent, top) : "";
  return prefix + "\\" + view->className() + "[" + std::to_string(XpathManager::sameClassIndexOf(view)) + "]";
}

ViewSet found(const Command& command) {
  auto list = interpretertest::views(run(command));
  return {list.begin(), list.end()};
}

TEST(FastPathTest, FindingAndWalksAnswerAsAStraightforwardWalkOnRandomTrees) {
  using UIView_ToolkitAdditions::isVisibleInWindowFrame;
  std::size_t byText = 0, byPartialText = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    auto window = RandomTree(seed).make(300);
    std::vector<std::shared_ptr<UIView>> all;
    preOrder(window, all);

    // The visible-view list, for every view and for one class.
    std::vector<std::shared_ptr<UIView>> visible, visibleButtons;
    for (const auto& view : all) {
      if (!isVisibleInWindowFrame(view)) continue;
      visible.push_back(view);
      if (view->className() == "UIButton") visibleButtons.push_back(view);
    }
    ASSERT_GT(visible.size(), 20u);
    ASSERT_LT(visible.size(), all.size());  // the trees do hide views by clipping
    EXPECT_EQ(VisibleViewList::getAllUIViewsAccordingToViewType(std::string()), visible);
    EXPECT_EQ(VisibleViewList::getAllUIViewsAccordingToViewType(std::string("uiBUTTON")), visibleButtons);

    // Every view got its playback GUID and its xpath as the first walk met it.
    for (const auto& view : all) {
      auto guid = ViewIdentity::getPlaybackGUID(view);
      ASSERT_TRUE(guid);
      EXPECT_EQ(XpathManager::sharedInstance()->getPositionXpathOfUIView(view), xpathFromScratch(view, window));
    }

    // The find commands: every view, by text, by partial text, by class, by xpath.
    auto expect = [&](const Command& command, const std::function<bool(const std::shared_ptr<UIView>&)>& rule) {
      ViewSet wanted;
      for (const auto& view : visible) {
        if (rule(view)) wanted.insert(view);
      }
      EXPECT_EQ(found(command), wanted) << command.type.value_or("(none)") << " " << command.value.value_or("");
      return wanted.size();
    };
    auto text = [](const std::shared_ptr<UIView>& view) { return Utilities::getUIViewText(view).value_or("\x01"); };
    expect({"findelements", "", "", std::nullopt, std::nullopt}, [](auto&) { return true; });
    byText += expect({"findelements", "", "text", "Row 3 Item", std::nullopt}, [&](auto& v) { return text(v) == "Row 3 Item"; });
    byPartialText += expect({"findelements", "", "PartialText", "w 3 i", std::nullopt}, [&](auto& v) {
      return foundation::lowercaseString(text(v)).find("w 3 i") != std::string::npos;
    });
    expect({"findelements", "UILabel", "", std::nullopt, std::nullopt}, [](auto& v) { return v->className() == "UILabel"; });
    const auto& target = visible[visible.size() / 2];
    auto xpath = XpathManager::sharedInstance()->getPositionXpathOfUIView(target);
    EXPECT_EQ(found({"findelements", "", "xpath", xpath, std::nullopt}), ViewSet{target});

    // Below an element: its ancestors' clipping still counts.
    const auto& inner = *std::find_if(all.begin() + static_cast<long>(all.size() / 3), all.end(),
                                      [](auto& v) { return v->subviews().size() > 3; });
    auto parentId = interpretertest::ids(run({"findelements", "", "xpath",
                                              XpathManager::sharedInstance()->getPositionXpathOfUIView(inner), std::nullopt}));
    if (parentId.size() == 1) {
      std::vector<std::shared_ptr<UIView>> below;
      preOrder(inner, below);
      ViewSet wanted;
      for (const auto& view : below) {
        if (isVisibleInWindowFrame(view)) wanted.insert(view);
      }
      EXPECT_EQ(found({"findelementsinsideelement", "", "", std::nullopt, parentId.front()}), wanted);
    }
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    window->setHidden(true);
  }
  EXPECT_GT(byText, 0u);
  EXPECT_GT(byPartialText, byText);  // "ITEM" too
}

// The AI export of the sample screens (shared drawing memory, one JPEG compressor,
// tappability worked out once per view) against each view described alone, in
// the opposite order: the same images byte for byte and the same descriptions.
TEST(FastPathTest, AiExportOfTheSampleScreensDescribesEachViewAsIfAlone) {
  std::vector<std::shared_ptr<UIViewController>> screens{std::make_shared<LoginViewController>(),
                                                          std::make_shared<SettingsViewController>(),
                                                          std::make_shared<ListViewController>()};
  for (const auto& controller : screens) {
    auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
    const auto visible = VisibleViewList::getAllUIViewsAccordingToViewType(std::string());
    const JSONValue reply = run({"ai_findelements", "", std::nullopt, std::nullopt, std::nullopt});
    ASSERT_EQ(reply.size(), visible.size()) << controller->className();
    std::size_t images = 0, tappable = 0;
    for (std::size_t i = visible.size(); i-- > 0;) {
      JSONValue entry = reply[i];
      EXPECT_EQ(UIViewMemoryCache::sharedInstance()->getUIVIewAccordingToElementId(entry.at("elementID").get<std::string>()),
                visible[i]);
      entry.erase("elementID");
      EXPECT_EQ(entry, describeAlone(visible[i])) << controller->className() << " view " << i;
      images += !entry.at("imageBase64").get<std::string>().empty();
      tappable += entry.at("isProbablyTappable") == "true";
    }
    EXPECT_GT(images, visible.size() / 2) << controller->className();
    EXPECT_GT(tappable, 0u) << controller->className();
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    window->setHidden(true);
  }
}

}  // namespace
