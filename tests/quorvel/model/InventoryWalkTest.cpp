#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"
#include "wait.h"

namespace {

using ViewList = UIViewsManager::ViewList;

// window
//   header (UIView)
//     title (UILabel)
//   hiddenBox (UIView, hidden)
//     hiddenButton (UIButton)
//       hiddenInner (UILabel)
//   footer (UIView)
struct Screen {
  std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  std::shared_ptr<UIView> header = std::make_shared<UIView>(CGRectMake(0, 0, 390, 60));
  std::shared_ptr<UILabel> title = std::make_shared<UILabel>(CGRectMake(10, 10, 200, 30));
  std::shared_ptr<UIView> hiddenBox = std::make_shared<UIView>(CGRectMake(0, 100, 390, 100));
  std::shared_ptr<UIButton> hiddenButton = std::make_shared<UIButton>(CGRectMake(10, 10, 100, 40));
  std::shared_ptr<UILabel> hiddenInner = std::make_shared<UILabel>(CGRectMake(0, 0, 50, 20));
  std::shared_ptr<UIView> footer = std::make_shared<UIView>(CGRectMake(0, 700, 390, 100));

  Screen() {
    window->addSubview(header);
    header->addSubview(title);
    window->addSubview(hiddenBox);
    hiddenBox->addSubview(hiddenButton);
    hiddenButton->addSubview(hiddenInner);
    window->addSubview(footer);
    hiddenBox->setHidden(true);
  }
};

bool isGUID(const std::optional<std::string>& text) {
  static const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
  return text && std::regex_match(*text, form);
}

TEST(InventoryWalkTest, RecordingWalkSkipsHiddenSubtreesThePlaybackWalkListsThem) {
  Screen s;
  auto recorded = std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  // The button's own subview is listed after the button, in pre-order.
  EXPECT_EQ(recorded, (ViewList{s.header, s.title, s.footer}));
  for (auto& v : ViewList{s.header, s.title, s.footer}) EXPECT_TRUE(isGUID(ViewIdentity::getRecordingGUID(v)));
  for (auto& v : ViewList{s.hiddenBox, s.hiddenButton, s.hiddenInner}) {
    EXPECT_EQ(ViewIdentity::getRecordingGUID(v), std::nullopt);
  }
  EXPECT_EQ(ViewIdentity::getRecordingGUID(s.window), std::nullopt);  // the root is never given one

  auto played = std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(s.window, true);
  EXPECT_EQ(played, (ViewList{s.header, s.title, s.hiddenBox, s.hiddenButton, s.hiddenInner, s.footer}));
  for (auto& v : played) {
    auto guid = ViewIdentity::getPlaybackGUID(v);
    EXPECT_TRUE(isGUID(guid));
    EXPECT_NE(guid, ViewIdentity::getRecordingGUID(v));
  }
  EXPECT_EQ(XpathManager::sharedInstance()->getPositionXpathOfUIView(s.hiddenInner),
            std::string("\\UIView[1]\\UIButton[0]\\UILabel[0]"));
}

TEST(InventoryWalkTest, RepeatedWalksKeepGUIDsAndRegistrations) {
  Screen s;
  auto manager = std::make_shared<UIViewsManager>();
  auto first = manager->GetAllViewsForPlayer(s.window, true);
  std::vector<std::optional<std::string>> guids;
  for (auto& v : first) guids.push_back(ViewIdentity::getPlaybackGUID(v));
  auto registrations = XpathManager::sharedInstance()->getXpathPosition_PlaybackDictionary();

  auto second = manager->GetAllViewsForPlayer(s.window, true);
  EXPECT_EQ(first, second);
  for (std::size_t i = 0; i < second.size(); ++i) EXPECT_EQ(ViewIdentity::getPlaybackGUID(second[i]), guids[i]);
  EXPECT_EQ(XpathManager::sharedInstance()->getXpathPosition_PlaybackDictionary(), registrations);

  // A view that comes later is listed before its descendants although they were
  // walked (and given GUIDs) first.
  auto wrapper = std::make_shared<UIView>();
  s.footer->addSubview(wrapper);
  s.title->removeFromSuperview();
  wrapper->addSubview(s.title);
  auto third = manager->GetAllViewsForPlayer(s.window, true);
  auto at = [&](const std::shared_ptr<UIView>& v) { return std::find(third.begin(), third.end(), v) - third.begin(); };
  EXPECT_LT(at(wrapper), at(s.title));
  EXPECT_EQ(ViewIdentity::getPlaybackGUID(s.title), guids[1]);
}

TEST(InventoryWalkTest, StartFlagBeginsANewListOtherwiseAppends) {
  Screen s;
  auto manager = std::make_shared<UIViewsManager>();
  EXPECT_EQ(manager->GetAllViews(s.header, true), (ViewList{s.title}));
  EXPECT_EQ(manager->GetAllViews(s.footer, false), (ViewList{s.title}));  // no subviews: nothing added
  EXPECT_EQ(manager->GetAllViewsForPlayer(s.hiddenBox, false), (ViewList{s.title, s.hiddenButton, s.hiddenInner}));
  EXPECT_EQ(manager->GetAllViews(nullptr, false), (ViewList{s.title, s.hiddenButton, s.hiddenInner}));
  EXPECT_TRUE(manager->GetAllViews(nullptr, true).empty());
}

TEST(InventoryWalkTest, RecordingWalkStoresTheFirstResponderTextField) {
  Screen s;
  s.window->makeKeyAndVisible();
  auto field = std::make_shared<UITextField>(CGRectMake(10, 300, 200, 40));
  s.footer->addSubview(field);
  auto vars = GlobalVars::sharedInstance();
  vars->set_editAbleElement(nullptr);
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  EXPECT_EQ(vars->_editAbleElement(), nullptr);

  ASSERT_TRUE(field->becomeFirstResponder());
  std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(s.window, true);
  EXPECT_EQ(vars->_editAbleElement(), nullptr);  // the playback walk has no such step
  // A walk that keeps no list still takes every step.
  EXPECT_TRUE(std::make_shared<UIViewsManager>()->GetAllViews(s.window, true, UIViewsManager::keepNone()).empty());
  EXPECT_EQ(vars->_editAbleElement(), field);
  field->resignFirstResponder();
  vars->set_editAbleElement(nullptr);
  s.window->setHidden(true);
}

TEST(InventoryWalkTest, WalksTakeOffOnlyTheExactHighlightMarking) {
  Screen s;
  auto green = CGColorCreateSRGB(0, 1, 0, 1);
  auto marked = std::make_shared<UIView>();
  auto wideRed = std::make_shared<UIView>();
  auto thinGreen = std::make_shared<UIView>();
  auto halfGreen = std::make_shared<UIView>();
  for (auto& v : ViewList{marked, wideRed, thinGreen, halfGreen}) s.footer->addSubview(v);
  marked->layer()->setBorderWidth(4.0);
  marked->layer()->setBorderColor(green);
  wideRed->layer()->setBorderWidth(4.0);
  wideRed->layer()->setBorderColor(CGColorCreateSRGB(1, 0, 0, 1));
  thinGreen->layer()->setBorderWidth(3.0);
  thinGreen->layer()->setBorderColor(green);
  halfGreen->layer()->setBorderWidth(4.0);
  halfGreen->layer()->setBorderColor(CGColorCreateSRGB(0, 1, 0, 0.5));

  for (bool recording : {true, false}) {
    marked->layer()->setBorderWidth(4.0);
    marked->layer()->setBorderColor(green);
    auto manager = std::make_shared<UIViewsManager>();
    if (recording) {
      manager->GetAllViews(s.window, true);
    } else {
      manager->GetAllViewsForPlayer(s.window, true);
    }
    EXPECT_EQ(marked->layer()->borderWidth(), UIView_ToolkitAdditions::TK_deHighlightBorderWidth);
    EXPECT_EQ(wideRed->layer()->borderWidth(), 4.0);
    EXPECT_EQ(thinGreen->layer()->borderWidth(), 3.0);
    EXPECT_EQ(halfGreen->layer()->borderWidth(), 4.0);
  }
  // A hidden view is not visited by the recording walk, so its marking stays.
  s.hiddenButton->layer()->setBorderWidth(4.0);
  s.hiddenButton->layer()->setBorderColor(green);
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  EXPECT_EQ(s.hiddenButton->layer()->borderWidth(), 4.0);
}

}  // namespace
