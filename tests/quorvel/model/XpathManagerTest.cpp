#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>

#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/XpathManager.h"
#include "uikit/uikit.h"

namespace {

std::shared_ptr<XpathManager> registry() { return XpathManager::sharedInstance(); }

// A window (not key, never shown: the walks only need the hierarchy).
std::shared_ptr<UIWindow> makeWindow() { return std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844)); }

TEST(XpathManagerTest, WalkedHierarchyGetsClassIndexedXpaths) {
  auto window = makeWindow();
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 300, 300));
  auto first = std::make_shared<UILabel>(CGRectMake(0, 0, 100, 20));
  auto button = std::make_shared<UIButton>(CGRectMake(0, 30, 100, 20));
  auto second = std::make_shared<UILabel>(CGRectMake(0, 60, 100, 20));
  window->addSubview(container);
  container->addSubview(first);
  container->addSubview(button);
  container->addSubview(second);

  auto list = std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true);
  ASSERT_EQ(list.size(), 4u);

  EXPECT_EQ(registry()->getPositionXpathOfUIView(container), std::string("\\UIView[0]"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(first), std::string("\\UIView[0]\\UILabel[0]"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(button), std::string("\\UIView[0]\\UIButton[0]"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(second), std::string("\\UIView[0]\\UILabel[1]"));

  // Both directions agree, and the dictionary holds the same pairs.
  auto guid = registry()->getIdentificationGUIDFromXpath(std::string("\\UIView[0]\\UILabel[1]"));
  EXPECT_EQ(guid, ViewIdentity::getPlaybackGUID(second));
  auto dictionary = registry()->getXpathPosition_PlaybackDictionary();
  EXPECT_EQ(dictionary.at("\\UIView[0]\\UIButton[0]"), ViewIdentity::getPlaybackGUID(button));
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(std::string("\\Nowhere[0]")), std::nullopt);
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(std::nullopt), std::nullopt);
}

TEST(XpathManagerTest, WalksCountALevelAsTheSuperviewDoesHiddenSiblingsIncluded) {
  auto window = makeWindow();
  auto container = std::make_shared<UIView>();
  window->addSubview(container);
  auto hidden = std::make_shared<UILabel>();
  hidden->setHidden(true);
  container->addSubview(hidden);
  std::vector<std::shared_ptr<UIView>> views;
  for (int i = 0; i < 6; ++i) {
    views.push_back(i % 2 ? std::static_pointer_cast<UIView>(std::make_shared<UIButton>())
                          : std::static_pointer_cast<UIView>(std::make_shared<UILabel>()));
    container->addSubview(views.back());
  }
  // The recording walk skips the hidden label but still counts it, as the
  // registry's own count from the superview does.
  std::make_shared<UIViewsManager>()->GetAllViews(window, true);
  EXPECT_EQ(ViewIdentity::getRecordingGUID(hidden), std::nullopt);
  for (const auto& view : views) {
    const std::string expected = "\\UIView[0]\\" + view->className() + "[" +
                                 std::to_string(XpathManager::sameClassIndexOf(view)) + "]";
    EXPECT_EQ(registry()->getPositionXpathOfUIView(view), expected);
  }
  EXPECT_EQ(registry()->getPositionXpathOfUIView(views[4]), std::string("\\UIView[0]\\UILabel[3]"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(views[5]), std::string("\\UIView[0]\\UIButton[2]"));

  // A view added later is counted when a later walk meets it.
  auto late = std::make_shared<UIButton>();
  container->addSubview(late);
  std::make_shared<UIViewsManager>()->GetAllViews(window, true);
  EXPECT_EQ(registry()->getPositionXpathOfUIView(late), std::string("\\UIView[0]\\UIButton[3]"));
}

TEST(XpathManagerTest, IndexCountsOnlySiblingsOfTheSameClassAndPrefixComesFromTheParent) {
  auto window = makeWindow();
  auto parent = std::make_shared<UIView>();
  window->addSubview(parent);
  registry()->createXpathPositionOfUIView(nullptr, parent, "PARENT-GUID-FOR-PREFIX");
  parent->layer()->setValueForKey(ViewIdentity::kPlaybackGUIDKey, std::string("PARENT-GUID-FOR-PREFIX"));
  ASSERT_EQ(registry()->getPositionXpathOfUIView(parent), std::string("\\UIView[0]"));

  auto a = std::make_shared<UIView>();
  auto label = std::make_shared<UILabel>();
  auto b = std::make_shared<UIView>();
  parent->addSubview(a);
  parent->addSubview(label);
  parent->addSubview(b);
  registry()->createXpathPositionOfUIView(parent, a, "G-A");
  registry()->createXpathPositionOfUIView(parent, label, "G-LABEL");
  registry()->createXpathPositionOfUIView(parent, b, "G-B");
  auto d = registry()->getXpathPosition_PlaybackDictionary();
  EXPECT_EQ(d.at("\\UIView[0]\\UIView[0]"), "G-A");
  EXPECT_EQ(d.at("\\UIView[0]\\UILabel[0]"), "G-LABEL");
  EXPECT_EQ(d.at("\\UIView[0]\\UIView[1]"), "G-B");

  // A parent without a registered xpath gives no prefix, for good.
  auto orphanParent = std::make_shared<UIView>();
  auto child = std::make_shared<UIButton>();
  orphanParent->addSubview(child);
  registry()->createXpathPositionOfUIView(orphanParent, child, "G-ORPHAN-CHILD");
  child->layer()->setValueForKey(ViewIdentity::kPlaybackGUIDKey, std::string("G-ORPHAN-CHILD"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(child), std::string("\\UIButton[0]"));
}

TEST(XpathManagerTest, PrivateClassNamesAreKeptExactly) {
  auto window = makeWindow();
  auto bar = std::make_shared<UIView>();
  auto indicator = std::make_shared<_UINavigationBarBackIndicatorView>();
  auto cls = objc::Class::allocateClassPair(UIView::classObject(), "_MyPrivateDecorationView");
  ASSERT_NE(cls, nullptr);
  auto decoration = objc::makeInstanceOf<UIView>(cls);
  window->addSubview(bar);
  bar->addSubview(indicator);
  bar->addSubview(decoration);
  std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true);
  EXPECT_EQ(registry()->getPositionXpathOfUIView(indicator),
            std::string("\\UIView[0]\\_UINavigationBarBackIndicatorView[0]"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(decoration), std::string("\\UIView[0]\\_MyPrivateDecorationView[0]"));
}

TEST(XpathManagerTest, LookupsOfViewsWithoutRegistrationAreAbsent) {
  auto loose = std::make_shared<UIView>();
  EXPECT_EQ(registry()->getPositionXpathOfUIView(loose), std::nullopt);
  EXPECT_EQ(registry()->getPositionXpathOfUIView(nullptr), std::nullopt);
  // A GUID that was never registered has no xpath either.
  loose->layer()->setValueForKey(ViewIdentity::kRecordingGUIDKey, std::string("NEVER-REGISTERED"));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(loose), std::nullopt);
}

TEST(XpathManagerTest, ReplacementViewTakesOverTheXpathAndTheOldGUIDKeepsIt) {
  auto window = makeWindow();
  auto holder = std::make_shared<UIView>();
  window->addSubview(holder);
  auto old = std::make_shared<UISwitch>();
  holder->addSubview(old);
  auto manager = std::make_shared<UIViewsManager>();
  manager->GetAllViewsForPlayer(window, true);
  auto oldGuid = ViewIdentity::getPlaybackGUID(old);
  ASSERT_TRUE(oldGuid);
  const std::string xpath = "\\UIView[0]\\UISwitch[0]";
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), oldGuid);

  old->removeFromSuperview();
  auto replacement = std::make_shared<UISwitch>();
  holder->addSubview(replacement);
  manager->GetAllViewsForPlayer(window, true);
  auto newGuid = ViewIdentity::getPlaybackGUID(replacement);
  ASSERT_TRUE(newGuid);
  EXPECT_NE(newGuid, oldGuid);
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), newGuid);
  EXPECT_EQ(registry()->getPositionXpathOfUIView(old), xpath);
}

TEST(XpathManagerTest, RecordingGUIDComesFirstAndAMovedViewKeepsItsXpath) {
  auto window = makeWindow();
  auto left = std::make_shared<UIView>();
  auto right = std::make_shared<UIView>();
  auto field = std::make_shared<UITextField>();
  window->addSubview(left);
  window->addSubview(right);
  left->addSubview(field);
  auto manager = std::make_shared<UIViewsManager>();
  manager->GetAllViews(window, true);
  ASSERT_EQ(registry()->getPositionXpathOfUIView(field), std::string("\\UIView[0]\\UITextField[0]"));

  // The field moves; the playback walk registers its new place under the playback
  // GUID, but the view reports what its recording GUID was registered with.
  field->removeFromSuperview();
  right->addSubview(std::make_shared<UITextField>());
  right->addSubview(field);
  manager->GetAllViewsForPlayer(window, true);
  auto playbackGuid = ViewIdentity::getPlaybackGUID(field);
  ASSERT_TRUE(playbackGuid);
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(std::string("\\UIView[1]\\UITextField[1]")), playbackGuid);
  EXPECT_EQ(registry()->getPositionXpathOfUIView(field), std::string("\\UIView[0]\\UITextField[0]"));
}

TEST(XpathManagerTest, RegistrationsEndWithTheirViews) {
  const std::size_t before = registry()->registeredGUIDCount();
  auto window = makeWindow();
  auto holder = std::make_shared<UIView>();
  window->addSubview(holder);
  auto manager = std::make_shared<UIViewsManager>();
  const std::string xpath = "\\UIView[0]\\UILabel[0]";

  // Rows that come and go, as a table's do: both walks meet each one.
  for (int i = 0; i < 200; ++i) {
    auto row = std::make_shared<UILabel>();
    holder->addSubview(row);
    manager->GetAllViews(window, true);
    manager->GetAllViewsForPlayer(window, true);
    ASSERT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), ViewIdentity::getPlaybackGUID(row));
    row->removeFromSuperview();
  }
  manager = std::make_shared<UIViewsManager>();  // its list held the last row
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), std::nullopt);
  EXPECT_EQ(registry()->registeredGUIDCount(), before + 2);  // the holder's two GUIDs

  // A view that goes after another took its xpath over leaves the newer one.
  auto old = std::make_shared<UILabel>();
  holder->addSubview(old);
  manager->GetAllViewsForPlayer(window, true);
  old->removeFromSuperview();
  auto replacement = std::make_shared<UILabel>();
  holder->addSubview(replacement);
  manager->GetAllViewsForPlayer(window, true);
  manager.reset();
  old.reset();
  EXPECT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), ViewIdentity::getPlaybackGUID(replacement));
  EXPECT_EQ(registry()->getPositionXpathOfUIView(replacement), xpath);

  window.reset();
  holder.reset();
  replacement.reset();
  EXPECT_EQ(registry()->registeredGUIDCount(), before);
}

// Registrations that come and go in a random order, many sharing xpaths, against a
// plain model of what the registry must answer: the last live registration of an
// xpath designates it until that one goes, and each live GUID keeps its xpath.
TEST(XpathManagerTest, RegistrationsComingAndGoingMatchAPlainModel) {
  const std::size_t before = registry()->registeredGUIDCount();
  std::vector<std::shared_ptr<UIView>> kinds = {std::make_shared<UIView>(), std::make_shared<UILabel>(),
                                               std::make_shared<UIButton>()};
  auto probe = std::make_shared<UIView>();
  std::mt19937 random(20261209);
  struct Live {
    std::string xpath;
    XpathManager::Handle handle;
  };
  std::map<std::string, Live> live;                // by GUID
  std::map<std::string, std::string> ownerOfXpath;  // the model of the GUID-by-xpath map
  std::vector<std::string> xpathsSeen;
  int made = 0;
  for (int step = 0; step < 20000; ++step) {
    // Mostly registrations early on, mostly removals later, so that the tables both
    // grow and empty again.
    const bool add = live.empty() || random() % 100 < (step < 10000 ? 70u : 30u);
    if (add) {
      const std::string parent = "\\Rnd[" + std::to_string(random() % 40) + "]";
      const auto& view = kinds[random() % kinds.size()];
      const long index = static_cast<long>(random() % 8);
      const std::string guid = "RND-" + std::to_string(made++);
      const std::string xpath = parent + "\\" + view->className() + "[" + std::to_string(index) + "]";
      live[guid] = {xpath, registry()->registerXpath(parent, view, guid, index)};
      ownerOfXpath[xpath] = guid;
      xpathsSeen.push_back(xpath);
    } else {
      auto it = std::next(live.begin(), static_cast<long>(random() % live.size()));
      auto owner = ownerOfXpath.find(it->second.xpath);
      if (owner != ownerOfXpath.end() && owner->second == it->first) ownerOfXpath.erase(owner);
      live.erase(it);
    }
    if (step % 500 != 499) continue;
    ASSERT_EQ(registry()->registeredGUIDCount(), before + live.size()) << "step " << step;
    for (const auto& xpath : xpathsSeen) {
      auto owner = ownerOfXpath.find(xpath);
      ASSERT_EQ(registry()->getIdentificationGUIDFromXpath(xpath),
                owner == ownerOfXpath.end() ? std::nullopt : std::optional<std::string>(owner->second))
          << xpath << " at step " << step;
    }
    for (const auto& [guid, entry] : live) {
      probe->layer()->setValueForKey(ViewIdentity::kPlaybackGUIDKey, guid);
      ASSERT_EQ(registry()->getPositionXpathOfUIView(probe), entry.xpath) << guid << " at step " << step;
    }
    std::map<std::string, std::string> dictionary;
    for (const auto& [xpath, guid] : registry()->getXpathPosition_PlaybackDictionary()) {
      if (xpath.starts_with("\\Rnd[")) dictionary[xpath] = guid;
    }
    ASSERT_EQ(dictionary, ownerOfXpath) << "step " << step;
  }
  live.clear();
  EXPECT_EQ(registry()->registeredGUIDCount(), before);
  for (const auto& xpath : xpathsSeen) ASSERT_EQ(registry()->getIdentificationGUIDFromXpath(xpath), std::nullopt);
}

}  // namespace
