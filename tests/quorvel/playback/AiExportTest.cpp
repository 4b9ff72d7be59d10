// "ai_findelements" and "ai_getscreensnapshot" through the interpreter, on one screen
// that holds a view of every kind the descriptions tell apart.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "foundation/data.h"
#include "objc/exception.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/uikit.h"

namespace {

using Text = std::optional<std::string>;

JSONValue run(const Text& function, const Text& tag = std::nullopt, const Text& value = std::nullopt) {
  auto call = std::make_shared<FunctionCallObject>();
  call->setFunctionName(function);
  call->setTagName(tag);
  call->setAccessorValue(value);
  return std::make_shared<UIViewFinder>()->parseFunctionCallObject(call);
}

std::shared_ptr<UIView> cached(const JSONValue& entry) {
  return UIViewMemoryCache::sharedInstance()->getUIVIewAccordingToElementId(entry.at("elementID").get<std::string>());
}

std::shared_ptr<UIImage> decodeJPEG(const std::string& base64, CGFloat scale) {
  auto data = foundation::base64Decode(base64);
  return data ? UIImageWithJPEGData(*data, scale) : nullptr;
}

bool isRed(const std::shared_ptr<UIImage>& image, int x, int y) {
  std::uint32_t p = image->pixelAt(x, y);
  return ((p >> 16) & 0xFF) > 220 && ((p >> 8) & 0xFF) < 40 && (p & 0xFF) < 40;
}

std::shared_ptr<UIView> plainView(CGRect frame) { return std::make_shared<UIView>(frame); }

std::shared_ptr<UILabel> label(CGRect frame, const std::string& text) {
  auto made = std::make_shared<UILabel>(frame);
  made->setText(text);
  return made;
}

// The key window:
//   container (0, 64)
//     box (10, 20) red, 100 x 50
//       caption: a label, not hit itself (a hit lands on the box)
//     login: a button "Log In" with its title label
//     field: a text field, placeholder "User name"
//     table: a table view scrolled down by 30
//       inTable: a plain view at (10, 10)
//     picture: an image view
//     hiddenBox (hidden)
//       ghost: a label
//     line: 390 wide, 0 high
//   note: a label right under the window
class AiExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
    container = plainView(CGRectMake(0, 64, 390, 700));
    box = plainView(CGRectMake(10, 20, 100, 50));
    box->setBackgroundColor(UIColor::redColor());
    caption = label(CGRectMake(5, 5, 80, 20), "Caption");
    login = std::make_shared<UIButton>(CGRectMake(20, 100, 120, 44));
    login->setTitle(std::string("Log In"), UIControlStateNormal);
    field = std::make_shared<UITextField>(CGRectMake(20, 160, 300, 40));
    field->setPlaceholder(std::string("User name"));
    table = std::make_shared<UITableView>(CGRectMake(0, 220, 390, 200));
    inTable = plainView(CGRectMake(10, 10, 50, 50));
    picture = std::make_shared<UIImageView>(CGRectMake(300, 20, 40, 40));
    hiddenBox = plainView(CGRectMake(0, 440, 390, 60));
    ghost = label(CGRectMake(10, 10, 100, 20), "Ghost");
    line = plainView(CGRectMake(0, 520, 390, 0));
    note = label(CGRectMake(20, 800, 200, 20), "Footnote");

    window->addSubview(container);
    box->addSubview(caption);
    for (auto& v : std::vector<std::shared_ptr<UIView>>{box, login, field, table, picture, hiddenBox, line}) {
      container->addSubview(v);
    }
    table->addSubview(inTable);
    hiddenBox->addSubview(ghost);
    hiddenBox->setHidden(true);
    window->addSubview(note);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
    table->setContentOffset(CGPointMake(0, 30));
  }
  void TearDown() override {
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    window->setHidden(true);
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIView> container, box, inTable, hiddenBox, line;
  std::shared_ptr<UILabel> caption, ghost, note;
  std::shared_ptr<UIButton> login;
  std::shared_ptr<UITextField> field;
  std::shared_ptr<UITableView> table;
  std::shared_ptr<UIImageView> picture;
};

TEST_F(AiExportTest, DescribesEveryVisibleViewAndEntersItInTheCache) {
  auto stale = run("ai_findelements", "UILabel");  // retired by the next list
  ASSERT_FALSE(stale.empty());
  auto list = run("AI_FindElements", "");
  ASSERT_TRUE(list.is_array());

  // One entry per view of the visible-view list, in its order, each addressable.
  const auto visible = std::make_shared<UIViewFinder>()->getAllUIViewsAccordingToViewType(std::string());
  ASSERT_EQ(list.size(), visible.size());
  EXPECT_EQ(UIViewMemoryCache::sharedInstance()->getAllUIViewsIdentifier().size(), list.size());
  std::map<std::shared_ptr<UIView>, JSONValue> byView;
  const std::set<std::string> keys{"elementID", "text", "elementType", "imageBase64", "childCount",
                                   "isProbablyTappable", "isVisibleInViewHierarchy", "isVisibleInWindowFrame",
                                   "isUserInteractionEnabled", "isHidden", "isEditable", "isScrollable",
                                   "isImageObject", "rectangle"};
  const std::regex twoDecimals(R"(-?\d+\.\d\d)");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const JSONValue& entry = list[i];
    std::set<std::string> present;
    for (const auto& [key, value] : entry.items()) {
      present.insert(key);
      if (key.rfind("is", 0) == 0) {
        EXPECT_TRUE(value == "true" || value == "false") << key << " " << value;
      }
      if (key != "rectangle") {
        EXPECT_TRUE(value.is_string()) << key;
      }
    }
    EXPECT_EQ(present, keys);
    ASSERT_EQ(cached(entry), visible[i]) << i;
    for (const char* side : {"x", "y", "width", "height"}) {
      EXPECT_TRUE(std::regex_match(entry["rectangle"].value(side, ""), twoDecimals)) << entry["rectangle"].dump();
    }
    byView[visible[i]] = entry;
  }
  ASSERT_FALSE(byView.count(window));

  // The rectangle: the origin in window coordinates, through a scrolled superview too.
  EXPECT_EQ(byView[box]["rectangle"], JSONValue({{"x", "10.00"}, {"y", "84.00"}, {"width", "100.00"}, {"height", "50.00"}}));
  EXPECT_EQ(byView[inTable]["rectangle"]["y"], "264.00");  // 64 + 220 + 10 - 30
  EXPECT_EQ(byView[box]["childCount"], "1");
  EXPECT_EQ(byView[container]["childCount"], "7");

  // The image: the view's bounds at the screen's scale.
  const CGFloat scale = UIScreen::mainScreen()->scale();
  auto image = decodeJPEG(byView[box]["imageBase64"], scale);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixelWidth(), static_cast<int>(100 * scale));
  EXPECT_EQ(image->pixelHeight(), static_cast<int>(50 * scale));
  EXPECT_TRUE(isRed(image, image->pixelWidth() - 4, image->pixelHeight() - 4));
  EXPECT_EQ(byView[line]["imageBase64"], "");  // no pixels, still described
  EXPECT_EQ(byView[line]["isVisibleInWindowFrame"], "true");

  // Tappable through an ancestor: the caption is not hit itself, its box is. The
  // window is never asked, so a label right under it is not tappable.
  ASSERT_FALSE(UIView_ToolkitAdditions::isProbablyTappable(caption));
  EXPECT_EQ(byView[caption]["isProbablyTappable"], "true");
  EXPECT_EQ(byView[caption]["isUserInteractionEnabled"], "false");
  EXPECT_EQ(byView[note]["isProbablyTappable"], "false");

  // The label inside the button.
  const JSONValue& title = byView[login->titleLabel()];
  EXPECT_EQ(title["elementType"], "UILabel");
  EXPECT_EQ(title["text"], "Log In");
  EXPECT_EQ(title["isProbablyTappable"], "true");
  EXPECT_EQ(title["isEditable"], "false");
  EXPECT_EQ(title["isScrollable"], "false");

  EXPECT_EQ(byView[field]["isEditable"], "true");
  EXPECT_EQ(byView[field]["text"], "User name");
  EXPECT_EQ(byView[table]["isScrollable"], "true");
  EXPECT_EQ(byView[inTable]["isScrollable"], "false");
  EXPECT_EQ(byView[picture]["isImageObject"], "true");
  EXPECT_EQ(byView[box]["isImageObject"], "false");

  // Hidden flags: the container says it is hidden; what is inside is not visible in
  // the hierarchy but still in the window frame.
  EXPECT_EQ(byView[hiddenBox]["isHidden"], "true");
  EXPECT_EQ(byView[ghost]["isHidden"], "false");
  EXPECT_EQ(byView[ghost]["isVisibleInViewHierarchy"], "false");
  EXPECT_EQ(byView[ghost]["isVisibleInWindowFrame"], "true");

  // Follow-up element commands address the described views.
  const std::string fieldId = byView[field]["elementID"];
  field->setText(std::string("alice"));
  EXPECT_EQ(run("gettext", {}, fieldId), JSONValue::array({{{"output", "alice"}}}));
  for (const auto& entry : stale) EXPECT_EQ(cached(entry), nullptr);

  // The tag filters by class name, in any case; the next list retires these IDs.
  auto buttons = run("ai_findelements", "uibutton");
  ASSERT_EQ(buttons.size(), 1u) << buttons.dump();
  EXPECT_EQ(cached(buttons[0]), login);
  EXPECT_TRUE(run("gettext", {}, fieldId).empty());

  // No tag describes nothing and still empties the cache.
  EXPECT_EQ(run("ai_findelements"), JSONValue::array());
  EXPECT_EQ(cached(buttons[0]), nullptr);
}

TEST_F(AiExportTest, SnapshotIsTheKeyWindowAtScreenScale) {
  auto reply = run("ai_getscreensnapshot");
  ASSERT_EQ(reply.size(), 1u);
  const CGFloat scale = UIScreen::mainScreen()->scale();
  auto image = decodeJPEG(reply[0].at("output"), scale);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixelWidth(), static_cast<int>(390 * scale));
  EXPECT_EQ(image->pixelHeight(), static_cast<int>(844 * scale));
  EXPECT_TRUE(isRed(image, static_cast<int>(60 * scale), static_cast<int>(120 * scale)));  // inside the box
  EXPECT_FALSE(isRed(image, static_cast<int>(200 * scale), static_cast<int>(120 * scale)));
}

TEST(AiExportWithoutWindowTest, NoWindowDescribesNothingAndHasNoSnapshot) {
  ASSERT_EQ(UIApplication::sharedApplication()->keyWindow(), nullptr);
  EXPECT_EQ(run("ai_findelements", ""), JSONValue::array());
  EXPECT_THROW(run("ai_getscreensnapshot"), objc::NSException);
}

}  // namespace
