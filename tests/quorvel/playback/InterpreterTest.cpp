#include <gtest/gtest.h>

#include <set>

#include "foundation/log.h"
#include "interpreter_helpers.h"
#include "objc/exception.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

using namespace interpretertest;

JSONValue output(const std::string& value) { return JSONValue::array({{{"output", value}}}); }

// The key window of a login-like screen:
//   window
//     form (UIView)
//       heading (UILabel "Welcome Back")
//       user (UITextField, placeholder "User name")
//       login (UIButton "Log In", 120 wide)
//       hint (UILabel "Forgot password?")
//     hiddenBox (UIView, hidden)
//       secret (UIButton "Secret")
//     scroll (UIScrollView, clipping)
//       below (UIButton "Below", scrolled out)
class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
    form = std::make_shared<UIView>(CGRectMake(0, 0, 390, 400));
    heading = std::make_shared<UILabel>(CGRectMake(20, 40, 300, 30));
    heading->setText(std::string("Welcome Back"));
    user = std::make_shared<UITextField>(CGRectMake(20, 100, 300, 40));
    user->setPlaceholder(std::string("User name"));
    login = std::make_shared<UIButton>(CGRectMake(20, 160, 120, 44));
    login->setTitle(std::string("Log In"), UIControlStateNormal);
    hint = std::make_shared<UILabel>(CGRectMake(20, 220, 200, 20));
    hint->setText(std::string("Forgot password?"));
    hiddenBox = std::make_shared<UIView>(CGRectMake(0, 420, 390, 100));
    secret = std::make_shared<UIButton>(CGRectMake(10, 10, 100, 40));
    secret->setTitle(std::string("Secret"), UIControlStateNormal);
    scroll = std::make_shared<UIScrollView>(CGRectMake(0, 540, 390, 200));
    scroll->setClipsToBounds(true);
    scroll->setContentSize(CGSizeMake(390, 3000));
    below = std::make_shared<UIButton>(CGRectMake(10, 2000, 100, 40));
    below->setTitle(std::string("Below"), UIControlStateNormal);

    window->addSubview(form);
    for (auto& v : std::vector<std::shared_ptr<UIView>>{heading, user, login, hint}) form->addSubview(v);
    window->addSubview(hiddenBox);
    hiddenBox->addSubview(secret);
    hiddenBox->setHidden(true);
    window->addSubview(scroll);
    scroll->addSubview(below);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
  }
  void TearDown() override {
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    window->setHidden(true);
  }

  std::string findOne(const Command& c) {
    auto reply = run(c);
    EXPECT_EQ(reply.size(), 1u) << reply.dump();
    return reply.empty() ? std::string() : ids(reply).front();
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIView> form, hiddenBox;
  std::shared_ptr<UILabel> heading, hint;
  std::shared_ptr<UITextField> user;
  std::shared_ptr<UIButton> login, secret, below;
  std::shared_ptr<UIScrollView> scroll;
};

TEST_F(InterpreterTest, FindByClassListsEveryVisibleViewOfThatClass) {
  auto reply = run({"findelements", "UIBUTTON", "", "", {}});
  std::set<std::shared_ptr<UIView>> found;
  for (auto& v : views(reply)) found.insert(v);
  // The button inside the hidden container is found; the scrolled-out one is not.
  EXPECT_EQ(found, (std::set<std::shared_ptr<UIView>>{login, secret}));

  // The empty tag lists every view visible in the window frame.
  auto visible = std::make_shared<UIViewFinder>()->getAllUIViewsAccordingToViewType(std::string());
  auto all = run({"findelements", "", "", "", {}});
  EXPECT_EQ(all.size(), visible.size());
  EXPECT_GT(all.size(), found.size());

  // An absent tag, an absent or unknown accessor type find nothing.
  EXPECT_TRUE(run({"findelements", {}, "", "", {}}).empty());
  EXPECT_TRUE(run({"findelements", "UIButton", {}, "", {}}).empty());
  EXPECT_TRUE(run({"findelements", "UIButton", "id", "Log In", {}}).empty());
}

TEST_F(InterpreterTest, TextIsExactAndCaseSensitivePartialTextIsNot) {
  auto found = views(run({"findelements", "UIButton", "TEXT", "Log In", {}}));
  EXPECT_EQ(found, (std::vector<std::shared_ptr<UIView>>{login}));
  EXPECT_TRUE(run({"findelements", "UILabel", "text", "welcome back", {}}).empty());
  EXPECT_TRUE(run({"findelements", "UILabel", "text", "Welcome", {}}).empty());
  EXPECT_EQ(views(run({"findelements", "UILabel", "PartialText", "WELCOME", {}})),
            (std::vector<std::shared_ptr<UIView>>{heading}));
  EXPECT_EQ(views(run({"findelements", "uibutton", "partialtext", "log in", {}})),
            (std::vector<std::shared_ptr<UIView>>{login}));
  // An empty piece is found in no text.
  EXPECT_TRUE(run({"findelements", "UILabel", "partialtext", "", {}}).empty());
  // Text matching reads the recording text: a text field's placeholder, not what was typed.
  user->setText(std::string("alice"));
  EXPECT_EQ(views(run({"findelements", "UITextField", "text", "User name", {}})),
            (std::vector<std::shared_ptr<UIView>>{user}));
  EXPECT_TRUE(run({"findelements", "UITextField", "text", "alice", {}}).empty());
  // The button inside the hidden container, found by its title.
  EXPECT_EQ(views(run({"findelements", "UIButton", "text", "Secret", {}})),
            (std::vector<std::shared_ptr<UIView>>{secret}));
  EXPECT_TRUE(run({"findelements", "UIButton", "text", "Below", {}}).empty());
}

TEST_F(InterpreterTest, CaseInsensitiveMatchingCoversEveryAlphabet) {
  // Partial texts and class names are compared in lower case the way the platform
  // lowers them: accented and non-Latin capitals included.
  hint->setText(std::string("\xC3\x89""COLE \xD0\x9C\xD0\x98\xD0\xA0"));  // ÉCOLE МИР
  EXPECT_EQ(views(run({"findelements", "UILabel", "partialtext", "\xC3\xA9""cole", {}})),
            (std::vector<std::shared_ptr<UIView>>{hint}));
  EXPECT_EQ(views(run({"findelements", "", "partialtext", "\xD0\xBC\xD0\xB8\xD1\x80", {}})),
            (std::vector<std::shared_ptr<UIView>>{hint}));
  // "text" stays exact.
  EXPECT_TRUE(run({"findelements", "UILabel", "text", "\xC3\xA9""cole \xD0\xBC\xD0\xB8\xD1\x80", {}}).empty());

  objc::Class* cls = objc::Class::named("\xC3\x89""tiquetteView");
  if (!cls) cls = objc::Class::allocateClassPair(UILabel::classObject(), "\xC3\x89""tiquetteView");
  auto badge = objc::cast<UIView>(cls->createInstance());
  ASSERT_NE(badge, nullptr);
  badge->setFrame(CGRectMake(250, 40, 100, 30));
  form->addSubview(badge);
  EXPECT_EQ(views(run({"findelements", "\xC3\xA9""TIQUETTEview", "", "", {}})),
            (std::vector<std::shared_ptr<UIView>>{badge}));
}

TEST_F(InterpreterTest, XpathAccessorFindsTheViewRegisteredLastUnderIt) {
  run({"findelements", "", "", "", {}});  // the playback walk registers every view
  auto xpath = XpathManager::sharedInstance()->getPositionXpathOfUIView(login);
  ASSERT_EQ(xpath, std::string("\\UIView[0]\\UIButton[0]"));
  EXPECT_EQ(views(run({"findelements", "", "xpath", *xpath, {}})), (std::vector<std::shared_ptr<UIView>>{login}));
  EXPECT_TRUE(run({"findelements", "", "xpath", "\\UIView[0]\\UIButton[7]", {}}).empty());
  // The tag still filters.
  EXPECT_TRUE(run({"findelements", "UILabel", "xpath", *xpath, {}}).empty());
}

TEST_F(InterpreterTest, ElementIDsDieAtTheNextFind) {
  auto first = findOne({"findelements", "UIButton", "text", "Log In", {}});
  EXPECT_EQ(run({"gettext", {}, {}, first, {}}), output("Log In"));
  auto second = findOne({"findelements", "UIButton", "text", "Log In", {}});
  EXPECT_NE(first, second);
  EXPECT_TRUE(run({"gettext", {}, {}, first, {}}).empty());
  EXPECT_EQ(run({"gettext", {}, {}, second, {}}), output("Log In"));
  // Every element command with an unknown ID replies empty.
  for (const char* command : {"isselected", "isenabled", "isdisplayed", "getheight", "getwidth", "highlight"}) {
    EXPECT_TRUE(run({command, {}, {}, first, {}}).empty()) << command;
  }
}

TEST_F(InterpreterTest, AccessibilityIdentifiersDocumentOrderAndRectangles) {
  login->setAccessibilityIdentifier(std::string("loginButton"));
  user->setAccessibilityIdentifier(std::string("userField"));
  EXPECT_EQ(views(run({"findelements", "", "AccessibilityId", "loginButton", {}})),
            (std::vector<std::shared_ptr<UIView>>{login}));
  EXPECT_TRUE(run({"findelements", "", "accessibilityid", "LoginButton", {}}).empty());
  // Views without an identifier are not matched by an empty one.
  EXPECT_TRUE(run({"findelements", "", "accessibilityid", "", {}}).empty());
  EXPECT_EQ(views(run({"findeditablecomponents", {}, "accessibilityid", "userField", {}})),
            (std::vector<std::shared_ptr<UIView>>{user}));
  EXPECT_TRUE(run({"findeditablecomponents", {}, "accessibilityid", "loginButton", {}}).empty());

  // The IDs of a find come in hierarchy order, whatever IDs they got.
  const auto visible = std::make_shared<UIViewFinder>()->getAllUIViewsAccordingToViewType(std::string());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(views(run({"findelements", "", "", "", {}})), visible);

  form->setFrame(CGRectMake(0, 64, 390, 400));
  auto id = findOne({"findelements", "UIButton", "text", "Log In", {}});
  EXPECT_EQ(run({"getRect", {}, {}, id, {}}),
            JSONValue::array({{{"rectangle", {{"x", "20.00"}, {"y", "224.00"}, {"width", "120.00"}, {"height", "44.00"}}}}}));
  findOne({"findelements", "UIButton", "text", "Log In", {}});
  EXPECT_TRUE(run({"getrect", {}, {}, id, {}}).empty());
}

TEST_F(InterpreterTest, FindInsideAnElementSearchesOnlyBelowIt) {
  auto cell = std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, std::string("row"));
  cell->setFrame(CGRectMake(0, 250, 390, 44));
  cell->setText(std::string("Log In"));  // a label inside the cell carries the same text
  form->addSubview(cell);
  cell->layoutIfNeeded();
  auto cellId = findOne({"findelements", "UITableViewCell", "", "", {}});

  auto inside = views(run({"findelementsinsideelement", "", "text", "Log In", cellId}));
  ASSERT_FALSE(inside.empty());
  for (auto& v : inside) {
    EXPECT_NE(v, cell);  // the parent itself is never a candidate
    EXPECT_TRUE(v->isDescendantOfView(cell));
  }
  EXPECT_EQ(UIViewMemoryCache::sharedInstance()->getUIVIewAccordingToElementId(cellId), nullptr);
  // An unknown parent searches nothing.
  EXPECT_TRUE(run({"findelementsinsideelement", "", "", "", cellId}).empty());
}

TEST_F(InterpreterTest, EditableComponentsAreTheVisibleTextFields) {
  auto other = std::make_shared<UITextField>(CGRectMake(20, 300, 300, 40));
  other->setPlaceholder(std::string("Password"));
  form->addSubview(other);

  EXPECT_EQ(run({"findeditablecomponents", {}, "", "", {}}).size(), 2u);
  EXPECT_EQ(views(run({"findeditablecomponents", "UILabel", "partialtext", "pass", {}})),
            (std::vector<std::shared_ptr<UIView>>{other}));
  // Only a label holds "Forgot": no entries.
  EXPECT_TRUE(run({"findeditablecomponents", {}, "partialtext", "Forgot", {}}).empty());
  EXPECT_TRUE(run({"findeditablecomponents", {}, "id", "x", {}}).empty());

  // An xpath names one view of any class, once a text field is on screen.
  run({"findelements", "", "", "", {}});
  auto hintXpath = XpathManager::sharedInstance()->getPositionXpathOfUIView(hint);
  ASSERT_TRUE(hintXpath);
  EXPECT_EQ(views(run({"findeditablecomponents", {}, "xpath", *hintXpath, {}})),
            (std::vector<std::shared_ptr<UIView>>{hint}));
  user->removeFromSuperview();
  other->removeFromSuperview();
  EXPECT_TRUE(run({"findeditablecomponents", {}, "xpath", *hintXpath, {}}).empty());
}

TEST_F(InterpreterTest, QueriesAnswerAboutTheElement) {
  auto id = findOne({"findelements", "UIButton", "text", "Log In", {}});
  EXPECT_EQ(run({"getwidth", {}, {}, id, {}}), output("120"));
  EXPECT_EQ(run({"getheight", {}, {}, id, {}}), output("44"));
  login->setBounds(CGRectMake(0, 0, 99.6, 43.4));
  EXPECT_EQ(run({"GetWidth", {}, {}, id, {}}), output("100"));
  EXPECT_EQ(run({"getheight", {}, {}, id, {}}), output("43"));

  EXPECT_EQ(run({"isenabled", {}, {}, id, {}}), output("true"));
  login->setUserInteractionEnabled(false);
  EXPECT_EQ(run({"isenabled", {}, {}, id, {}}), output("false"));

  EXPECT_EQ(run({"isdisplayed", {}, {}, id, {}}), output("true"));
  login->setFrame(CGRectMake(300, 160, 120, 44));  // partly off the 390-wide screen
  EXPECT_EQ(run({"isdisplayed", {}, {}, id, {}}), output("false"));
  // The frame is taken in the superview's coordinates, whatever the superview's offset.
  login->setFrame(CGRectMake(20, 160, 120, 44));
  form->setFrame(CGRectMake(0, 2000, 390, 400));
  EXPECT_EQ(run({"isdisplayed", {}, {}, id, {}}), output("true"));

  // gettext gives the playback text: the typed text of a text field.
  user->setText(std::string("alice"));
  auto fieldId = findOne({"findelements", "UITextField", "", "", {}});
  EXPECT_EQ(run({"gettext", {}, {}, fieldId, {}}), output("alice"));
}

TEST_F(InterpreterTest, AttributesWindowKeysAndTouchPaths) {
  auto id = findOne({"findelements", "UITextField", "", "", {}});
  user->setAccessibilityIdentifier(std::string("userField"));
  user->setAccessibilityLabel(std::string("User"));
  EXPECT_EQ(run({"getattribute", {}, {}, id, "identifier"}), output("userField"));
  EXPECT_EQ(run({"getattribute", {}, {}, id, "LABEL"}), output("User"));
  EXPECT_EQ(run({"getattribute", {}, {}, id, "class"}), output("UITextField"));
  EXPECT_EQ(run({"getattribute", {}, {}, id, "colour"}), JSONValue::array({{{"output", nullptr}}}));
  EXPECT_EQ(run({"getwindowrect", {}, {}, {}, {}})[0]["rectangle"]["width"], "390.00");

  // Keys go to the field with the keyboard focus, one character at a time; a
  // backspace deletes. A secure field reads as bullets, one per character.
  EXPECT_EQ(run({"typekeys", {}, {}, {}, "abc"}), output("false"));
  ASSERT_TRUE(user->becomeFirstResponder());
  EXPECT_EQ(run({"typekeys", {}, {}, {}, "ab\bc\xC3\xA9"}), output("true"));
  EXPECT_EQ(user->text(), "ac\xC3\xA9");
  user->setSecureTextEntry(true);
  EXPECT_EQ(run({"gettext", {}, {}, id, {}}), output("\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2"));

  // A touch path that is not a list of [x, y, ms] points touches nothing; one
  // point taps what lies under it.
  int taps = 0;
  login->addAction([&](auto, auto) { ++taps; }, UIControlEventTouchUpInside);
  for (const char* bad : {"", "nope", "[]", "[[80, 182]]", "[[80, 182, \"soon\"]]", "{\"x\": 80}"}) {
    EXPECT_EQ(run({"touchpath", {}, {}, {}, std::string(bad)}), output("false")) << bad;
  }
  EXPECT_EQ(taps, 0);
  EXPECT_EQ(run({"touchpath", {}, {}, {}, "[[80, 182, 0]]"}), output("true"));
  EXPECT_EQ(taps, 1);
  // Put down on the button and dragged off it before lifting: no tap.
  EXPECT_EQ(run({"touchpath", {}, {}, {}, "[[80, 182, 5], [80, 300, 5], [80, 600, 0]]"}), output("true"));
  EXPECT_EQ(taps, 1);
}

TEST_F(InterpreterTest, SwitchStateOfSwitchesAndSwitchLikeViews) {
  auto toggle = std::make_shared<UISwitch>(CGRectMake(20, 300, 51, 31));
  toggle->setOn(true);
  form->addSubview(toggle);
  auto id = findOne({"findelements", "UISwitch", "", "", {}});
  EXPECT_EQ(run({"isselected", {}, {}, id, {}}), output("true"));
  toggle->setOn(false);
  EXPECT_EQ(run({"isselected", {}, {}, id, {}}), output("false"));

  // A view whose class name contains "Switch" but that does not answer isOn.
  auto* plain = objc::Class::allocateClassPair(UIView::classObject(), "MyToggleSwitchView");
  ASSERT_NE(plain, nullptr);
  form->addSubview(objc::makeInstanceOf<UIView>(plain, CGRectMake(100, 300, 51, 31)));
  id = findOne({"findelements", "MyToggleSwitchView", "", "", {}});
  EXPECT_EQ(run({"isselected", {}, {}, id, {}}), output("false"));

  // One that does answer isOn is asked.
  auto* answering = objc::Class::allocateClassPair(UIView::classObject(), "MyAnsweringSWITCH");
  ASSERT_NE(answering, nullptr);
  answering->addMethod<bool>("isOn", [](objc::Object&) { return true; });
  form->addSubview(objc::makeInstanceOf<UIView>(answering, CGRectMake(200, 300, 51, 31)));
  id = findOne({"findelements", "MyAnsweringSwitch", "", "", {}});
  EXPECT_EQ(run({"isselected", {}, {}, id, {}}), output("true"));

  // A label is no switch: no entry.
  id = findOne({"findelements", "UILabel", "text", "Welcome Back", {}});
  EXPECT_TRUE(run({"isselected", {}, {}, id, {}}).empty());
}

TEST_F(InterpreterTest, HighlightMarksTheElement) {
  auto id = findOne({"findelements", "UILabel", "text", "Forgot password?", {}});
  EXPECT_TRUE(run({"highlight", {}, {}, id, {}}).empty());
  EXPECT_TRUE(UIView_ToolkitAdditions::TK_hasHighlightBorder(hint));
}

TEST_F(InterpreterTest, CommandWordsAreCaseInsensitiveAndUnknownWordsReplyEmpty) {
  EXPECT_EQ(run({"FindElements", "UIButton", "Text", "Log In", {}}).size(), 1u);
  EXPECT_TRUE(run({"find elements", "UIButton", "text", "Log In", {}}).empty());
  EXPECT_TRUE(run({"nosuchcommand", {}, {}, {}, {}}).empty());
  EXPECT_TRUE(run({{}, {}, {}, {}, {}}).empty());
  EXPECT_TRUE(std::make_shared<UIViewFinder>()->parseFunctionCallObject(nullptr).empty());
  EXPECT_EQ(std::make_shared<UIViewFinder>()->parseFunctionCallObjectForWebView(std::make_shared<FunctionCallObject>()),
            std::nullopt);
}

TEST_F(InterpreterTest, AnAbsentTextIsAnExceptionNotAnEntry) {
  // A text field with nothing typed and no placeholder has no playback text at all.
  auto bare = std::make_shared<UITextField>(CGRectMake(20, 300, 300, 40));
  form->addSubview(bare);
  ASSERT_EQ(Utilities::getUIViewTextForPlayBack(bare), std::nullopt);
  auto id = findOne({"findelements", "UITextField", "xpath", "\\UIView[0]\\UITextField[1]", {}});
  EXPECT_THROW(run({"gettext", {}, {}, id, {}}), objc::NSException);
}

TEST(InterpreterWithoutWindowTest, FindsNothingAndLogsWindowNotFound) {
  ASSERT_EQ(UIApplication::sharedApplication()->keyWindow(), nullptr);
  int notFound = 0;
  int token = foundation::addLogObserver([&](const std::string& line) { notFound += line == "Window Not Found"; });
  EXPECT_TRUE(run({"findelements", "", "", "", {}}).empty());
  EXPECT_TRUE(run({"findeditablecomponents", "", "", "", {}}).empty());
  foundation::removeLogObserver(token);
  EXPECT_GE(notFound, 2);
}

}  // namespace
