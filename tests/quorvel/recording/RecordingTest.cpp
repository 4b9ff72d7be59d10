// The recording pipeline in this process: the capture hook installed, the
// recorded-action thread running, touches built as a finger's and dispatched
// through the application's sendEvent:, text typed on the on-screen keyboard.
// Steps are taken from the step queue (no step sender runs here). The hook, the
// thread and the shared state live for the whole process, so the tests run in the
// order written; the last one starts playback, which ends recording for good.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/data.h"
#include "log_lines.h"
#include "main_loop.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/recording/CaptureHooks.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "touch_helpers.h"
#include "touch_recorder.h"
#include "uikit/UIImageJPEG.h"

namespace {

using namespace std::chrono_literals;
using uikittest::Finger;
using uikittest::middleInWindow;

void startRecording() {
  static std::once_flag once;
  std::call_once(once, [] {
    UIApplication_ToolkitAdditions::load(UIApplication::classObject());
    ElementsQueue::sharedInstance()->startRecorderActionThread();
    GlobalVars::sharedInstance()->set_spyMode("false");
  });
}

struct Step {
  std::string action;
  JSONValue element;  // the element's properties, its parent's under "parent"
  JSONValue data;
};

// The next queued step (the main run loop turns meanwhile), checked for the shape
// of every step: a list of one object, "popupName" "", and exactly two arguments,
// the element's properties first and the data arguments second.
Step nextStep() {
  std::optional<JSONValue> entry;
  qvtest::runMainLoopUntil([&] { return (entry = RecorderQueue::get()->dequeue()).has_value(); }, 10s);
  if (!entry) {
    ADD_FAILURE() << "no step was queued";
    return {};
  }
  EXPECT_TRUE(entry->is_array() && entry->size() == 1) << entry->dump().substr(0, 300);
  const JSONValue& step = entry->at(0);
  EXPECT_EQ(step.at("popupName"), "");
  const JSONValue& arguments = step.at("arguments");
  EXPECT_TRUE(arguments.is_array() && arguments.size() == 2);
  const JSONValue& element = arguments.at(0);
  EXPECT_EQ(element.at("mode"), "native");
  EXPECT_TRUE(element.at("parent").is_object());
  EXPECT_EQ(arguments.at(1).at("type"), "string");
  return {step.at("action").get<std::string>(), element, arguments.at(1).at("data")};
}

// Two whole runs of the recorded-action thread pass and nothing is queued.
void expectNoStep(const char* why) {
  const auto runs = ElementsQueue::completedRuns();
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return ElementsQueue::completedRuns() >= runs + 2; }, 10s));
  auto extra = RecorderQueue::get()->dequeue();
  EXPECT_FALSE(extra) << why << ": " << (extra ? extra->dump().substr(0, 300) : "");
}

// The element image is a JPEG of the element's size at the screen's scale.
void expectImageOfSize(const JSONValue& element, CGSize points) {
  auto jpeg = foundation::base64Decode(element.at("ObjectImage").get<std::string>());
  ASSERT_TRUE(jpeg);
  auto image = UIImageWithJPEGData(*jpeg);
  ASSERT_TRUE(image);
  const double scale = UIScreen::mainScreen()->scale();
  EXPECT_EQ(image->pixelWidth(), static_cast<int>(points.width * scale));
  EXPECT_EQ(image->pixelHeight(), static_cast<int>(points.height * scale));
}

std::shared_ptr<UIButton> makeButton(CGRect frame, const std::string& title) {
  auto button = std::make_shared<UIButton>(frame);
  button->setTitle(title, UIControlStateNormal);
  return button;
}

std::shared_ptr<UITextField> makeField(CGRect frame, const std::string& placeholder) {
  auto field = std::make_shared<UITextField>(frame);
  field->setPlaceholder(placeholder);
  return field;
}

objc::Class* toggleClass() {
  static objc::Class* cls = objc::Class::allocateClassPair(UIView::classObject(), "MyToggleSwitch");
  return cls;
}

// An application's view whose class name says that it shows a web page.
objc::Class* webPanelClass() {
  static objc::Class* cls = objc::Class::allocateClassPair(UIView::classObject(), "AppUIWebPanel");
  return cls;
}

// A form in a full-screen container, and a box of views that take no touches.
struct Screen {
  std::shared_ptr<UIWindow> window = uikittest::makeKeyWindow();
  std::shared_ptr<UIView> form = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
  std::shared_ptr<UITextField> user = makeField(CGRectMake(20, 80, 350, 44), "User name");
  std::shared_ptr<UITextField> password = makeField(CGRectMake(20, 136, 350, 44), "Password");
  std::shared_ptr<UIButton> first = makeButton(CGRectMake(20, 190, 160, 44), "First");
  std::shared_ptr<UIButton> logIn = makeButton(CGRectMake(200, 190, 170, 44), "Log In");
  std::shared_ptr<UISwitch> remember = std::make_shared<UISwitch>(CGRectMake(300, 250, 0, 0));
  std::shared_ptr<UIView> toggle = objc::makeInstanceOf<UIView>(toggleClass(), CGRectMake(20, 250, 51, 31));
  std::shared_ptr<UISegmentedControl> sizes =
      std::make_shared<UISegmentedControl>(CGRectMake(20, 300, 350, 32))->initWithItems({"S", "M", "L"});
  std::shared_ptr<UIView> box = std::make_shared<UIView>(CGRectMake(20, 400, 350, 200));
  std::shared_ptr<UIView> inner = std::make_shared<UIView>(CGRectMake(50, 20, 200, 60));
  std::shared_ptr<UILabel> deep = std::make_shared<UILabel>(CGRectMake(10, 10, 100, 30));
  std::shared_ptr<UIImageView> cover = std::make_shared<UIImageView>(CGRectMake(0, 0, 200, 60));
  std::shared_ptr<UIImageView> logo = std::make_shared<UIImageView>(CGRectMake(20, 100, 48, 48));
  std::shared_ptr<UILabel> untitled = std::make_shared<UILabel>(CGRectMake(100, 100, 80, 30));
  std::shared_ptr<UILabel> blank = std::make_shared<UILabel>(CGRectMake(200, 100, 80, 30));

  Screen() {
    startRecording();
    GlobalVars::sharedInstance()->set_editAbleElement(nullptr);
    user->setAccessibilityIdentifier("userField");
    logIn->setAccessibilityIdentifier("loginButton");
    sizes->setSelectedSegmentIndex(0);
    inner->setUserInteractionEnabled(false);
    deep->setText("Deep");
    cover->setHidden(true);  // in front of the label, but not on screen
    blank->setText("");
    window->addSubview(form);
    for (const auto& v : std::initializer_list<std::shared_ptr<UIView>>{user, password, first, logIn, remember, toggle,
                                                                        sizes, box}) {
      form->addSubview(v);
    }
    inner->addSubview(deep);
    inner->addSubview(cover);
    for (const auto& v : std::initializer_list<std::shared_ptr<UIView>>{inner, logo, untitled, blank}) box->addSubview(v);
    window->layoutIfNeeded();
    // The polling hook's inventory walk gives the views their recording GUIDs.
    std::make_shared<UIViewsManager>()->GetAllViews(window, true);
  }

  void tap(CGPoint point) { uikittest::tap(window, point); }
  void tap(const std::shared_ptr<UIView>& view) { tap(middleInWindow(view)); }
};

TEST(RecordingTest, TypingBetweenFieldsAndTapsOnControls) {
  qvtest::LogLines log;
  Screen s;

  // Field A, typing, field B: Click A, the text typed into A, Click B.
  s.tap(s.user);
  // The keyboard's keys carry recording GUIDs like any walked view: they are left
  // out by what they are.
  ASSERT_TRUE(UIKeyboard::isOnScreen());
  std::make_shared<UIViewsManager>()->GetAllViews(UIKeyboard::keyboardWindow(), true);
  ASSERT_TRUE(UIKeyboard::typeText("abc"));
  s.tap(s.password);
  Step step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("className"), "UITextField");
  EXPECT_EQ(step.element.at("elementText"), "User name");  // a field records its placeholder
  EXPECT_EQ(step.element.at("id"), "userField");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UITextField[0]");
  step = nextStep();
  EXPECT_EQ(step.action, "TypeTextOnEditBox");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UITextField[0]");
  EXPECT_EQ(step.data, "abc");
  step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UITextField[1]");
  EXPECT_EQ(step.data, "");

  // Typing into B, then a button: the text first, then the button, fully described.
  ASSERT_TRUE(UIKeyboard::typeText("pw"));
  s.tap(s.logIn);
  step = nextStep();
  EXPECT_EQ(step.action, "TypeTextOnEditBox");
  EXPECT_EQ(step.data, "pw");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UITextField[1]");
  step = nextStep();
  EXPECT_EQ(step.action, "ClickButton");
  const JSONValue& button = step.element;
  EXPECT_EQ(button.at("className"), "UIButton");
  EXPECT_EQ(button.at("elementText"), "Log In");
  EXPECT_EQ(button.at("name"), "Log In");
  EXPECT_EQ(button.at("logicalname"), "Log In");
  EXPECT_EQ(button.at("id"), "loginButton");
  EXPECT_EQ(button.at("label"), "");
  EXPECT_EQ(button.at("index"), "1");  // the second visible button
  EXPECT_EQ(button.at("xpath:position"), "\\UIView[0]\\UIButton[1]");
  EXPECT_EQ(button.at("X"), "0");
  EXPECT_EQ(button.at("Y"), "0");
  EXPECT_EQ(button.at("width"), "170");
  EXPECT_EQ(button.at("height"), "44");
  EXPECT_EQ(button.at("parent"), (JSONValue{{"title", "UIView"}, {"classname", "UIView"}, {"id", ""}, {"label", ""},
                                            {"X", "0"}, {"Y", "0"}, {"width", "390"}, {"height", "844"}}));
  expectImageOfSize(button, CGSizeMake(170, 44));
  EXPECT_EQ(step.data, "");
  expectNoStep("the keyboard's keys");

  // A drag that starts on a button records the button once, when it begins; the
  // scroll itself is no step.
  uikittest::drag(s.window, middleInWindow(s.logIn), CGPointMake(middleInWindow(s.logIn).x - 80, 210));
  EXPECT_EQ(nextStep().action, "ClickButton");
  expectNoStep("a drag");
  EXPECT_EQ(log.count("Horizontal scroll ended"), 1);

  // A switch is recorded when the touch ends, with the state the tap gave it.
  {
    Finger finger(s.window, middleInWindow(s.remember));
    expectNoStep("a switch while the finger is down");
    finger.lift();
  }
  ASSERT_TRUE(s.remember->isOn());
  EXPECT_EQ(nextStep().action, "Mobile_SelectSwitch");
  s.tap(s.remember);
  step = nextStep();
  EXPECT_EQ(step.action, "Mobile_DeSelectSwitch");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UISwitch[0]");
  expectImageOfSize(step.element, UISwitch::kSize);
  // Not at all after a move of more than 10 points; a move of exactly 10 is a tap.
  for (double distance : {10.5, 10.0}) {
    CGPoint start = middleInWindow(s.remember);
    Finger finger(s.window, start);
    finger.moveTo(CGPointMake(start.x, start.y + distance));
    finger.lift();
    if (distance > 10) expectNoStep("a switch after a move of more than 10 points");
  }
  EXPECT_EQ(nextStep().action, s.remember->isOn() ? "Mobile_SelectSwitch" : "Mobile_DeSelectSwitch");

  // An application's own "...Switch..." class without an on/off state: at touch
  // end too, as a plain click.
  {
    Finger finger(s.window, middleInWindow(s.toggle));
    expectNoStep("a switch-named view while the finger is down");
    finger.lift();
  }
  step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("className"), "MyToggleSwitch");

  // A segmented control records the segment it selected, with the control's text.
  CGRect sizes = s.sizes->convertRectToView(s.sizes->bounds(), nullptr);
  s.tap(CGPointMake(sizes.origin.x + sizes.size.width * 5 / 6, sizes.origin.y + sizes.size.height / 2));
  ASSERT_EQ(s.sizes->selectedSegmentIndex(), 2);
  step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("className"), "UISegment");
  EXPECT_EQ(step.element.at("elementText"), "L");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UISegmentedControl[0]\\UISegment[2]");
  expectNoStep("after the segmented control");
}

TEST(RecordingTest, ATouchOnAContainerRecordsTheVisibleViewUnderTheFinger) {
  Screen s;
  // Two levels below the touched container, compared in window coordinates; the
  // hidden image view in front of the label is passed over.
  s.tap(s.deep);
  Step step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("className"), "UILabel");
  EXPECT_EQ(step.element.at("elementText"), "Deep");
  EXPECT_EQ(step.element.at("logicalname"), "Deep");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UIView[0]\\UIView[0]\\UILabel[0]");
  EXPECT_EQ(step.element.at("parent").at("width"), "200");
  expectImageOfSize(step.element, CGSizeMake(100, 30));

  // On the label's edge the point is not inside it: the view around it is taken.
  CGRect deep = s.deep->convertRectToView(s.deep->bounds(), nullptr);
  s.tap(CGPointMake(deep.origin.x, deep.origin.y + 15));
  step = nextStep();
  EXPECT_EQ(step.element.at("className"), "UIView");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UIView[0]\\UIView[0]");

  s.tap(s.logo);
  EXPECT_EQ(nextStep().action, "ClickImage");

  // An absent text leaves "elementText" and "name" out and names the class; an
  // empty one is recorded as it is, without a logical name.
  s.tap(s.untitled);
  step = nextStep();
  EXPECT_FALSE(step.element.contains("elementText"));
  EXPECT_FALSE(step.element.contains("name"));
  EXPECT_EQ(step.element.at("logicalname"), "UILabel");
  s.tap(s.blank);
  step = nextStep();
  EXPECT_EQ(step.element.at("elementText"), "");
  EXPECT_EQ(step.element.at("name"), "");
  EXPECT_FALSE(step.element.contains("logicalname"));

  // A web view records no step of its own: it leaves the image of the touched area
  // for the steps its page records.
  auto web = objc::makeInstanceOf<UIView>(webPanelClass(), CGRectMake(20, 650, 350, 150));
  s.form->addSubview(web);
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  GlobalVars::sharedInstance()->set_webViewBase64Image(std::nullopt);
  s.tap(web);
  expectNoStep("a web view");
  auto image = GlobalVars::sharedInstance()->_webViewBase64Image();
  ASSERT_TRUE(image);
  auto touchedArea = UIImageWithJPEGData(foundation::base64Decode(*image).value_or(NSData()));
  ASSERT_TRUE(touchedArea);
  EXPECT_EQ(touchedArea->pixelWidth(), static_cast<int>(300 * UIScreen::mainScreen()->scale()));

  // A view that is not among the key window's visible views has index "0".
  auto other = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  other->setHidden(false);
  auto elsewhere = makeButton(CGRectMake(20, 700, 100, 44), "Elsewhere");
  other->addSubview(makeButton(CGRectMake(20, 600, 100, 44), "Before"));
  other->addSubview(elsewhere);
  std::make_shared<UIViewsManager>()->GetAllViews(other, true);
  uikittest::tap(other, middleInWindow(elsewhere));
  step = nextStep();
  EXPECT_EQ(step.element.at("elementText"), "Elsewhere");
  EXPECT_EQ(step.element.at("index"), "0");
}

TEST(RecordingTest, InSpyModeATouchIsDescribedInsteadOfRecorded) {
  Screen s;
  auto vars = GlobalVars::sharedInstance();
  auto storage = UIViewStorage::sharedObject();
  // A view that takes touches itself, with a caption that does not; the spy's tap
  // at (-100, -200) of it lands on a bystander that records what it gets.
  auto spied = std::make_shared<qvtest::TouchRecorder>(CGRectMake(220, 700, 150, 60));
  auto caption = std::make_shared<UILabel>(CGRectMake(10, 10, 100, 30));
  caption->setText("Caption");
  spied->addSubview(caption);
  auto web = objc::makeInstanceOf<UIView>(webPanelClass(), CGRectMake(220, 770, 150, 50));
  auto bystander = std::make_shared<qvtest::TouchRecorder>(CGRectMake(100, 480, 60, 100));
  for (const auto& v : std::initializer_list<std::shared_ptr<UIView>>{spied, web, bystander}) s.form->addSubview(v);
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);

  vars->set_spyMode("true");
  const std::size_t storedBefore = storage->numberOfViews();
  s.tap(caption);
  // One spy list, of the caption and its two ancestors below the window.
  std::optional<JSONValue> list = RecorderQueue::get()->dequeue();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u) << list->dump(1);
  EXPECT_EQ(list->at(0).at("elementText"), "Caption");
  EXPECT_EQ(list->at(0).at("xpath:position"), "\\UIView[0]\\UIView[1]\\UILabel[0]");
  EXPECT_EQ(storage->numberOfViews(), storedBefore + 3);
  EXPECT_EQ(storage->count(), 3u);
  EXPECT_TRUE(UIView_ToolkitAdditions::TK_hasHighlightBorder(caption));
  // The spy's own tap went to the application first, on the shared touches event,
  // which the touched view then never gets the touch's beginning on. It is not
  // spied on: the bystander it hit is neither described nor highlighted.
  ASSERT_GE(bystander->seen.size(), 2u);
  EXPECT_EQ(bystander->seen[0].phase, UITouchPhaseBegan);
  EXPECT_EQ(bystander->seen[1].phase, UITouchPhaseEnded);
  EXPECT_EQ(bystander->seen[0].inWindow, CGPointMake(120, 500));
  EXPECT_EQ(spied->phases(), std::vector<UITouchPhase>{UITouchPhaseEnded});
  EXPECT_FALSE(UIView_ToolkitAdditions::TK_hasHighlightBorder(bystander));
  const std::size_t bystanderSaw = bystander->seen.size();
  EXPECT_EQ(ElementsQueue::sharedInstance()->getElementsBucketSize(), 0u);
  expectNoStep("a touch in spy mode");

  // A web view is left to its page: highlighted, nothing sent, no tap of the spy's.
  s.tap(web);
  EXPECT_TRUE(UIView_ToolkitAdditions::TK_hasHighlightBorder(web));
  EXPECT_EQ(bystander->seen.size(), bystanderSaw);
  EXPECT_EQ(storage->numberOfViews(), storedBefore + 3);
  EXPECT_EQ(storage->count(), 3u);
  expectNoStep("a web view in spy mode");

  // Back in recording mode the same touch is a step again.
  vars->set_spyMode("false");
  s.tap(caption);
  Step step = nextStep();
  EXPECT_EQ(step.action, "Click");
  EXPECT_EQ(step.element.at("elementText"), "Caption");
  EXPECT_EQ(bystander->seen.size(), bystanderSaw);
}

TEST(RecordingTest, AStepDescribesWhatTheFingerTouchedWhenItTouched) {
  Screen s;
  // Two labels of one container within one cycle: the touches land on the
  // container, the steps name each label under the finger.
  {
    ElementsQueue::EventDispatchScope oneCycle;
    s.tap(s.untitled);
    s.tap(s.blank);
    s.tap(s.untitled);
  }
  Step step = nextStep();
  EXPECT_EQ(step.element.at("logicalname"), "UILabel");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UIView[0]\\UILabel[0]");
  step = nextStep();
  EXPECT_EQ(step.element.at("elementText"), "");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UIView[0]\\UILabel[1]");
  expectNoStep("a second tap on a label within the cycle");

  // A drag that scrolls a list is no tap on the row where it started; a tap on
  // that row is.
  auto list = std::make_shared<UIScrollView>(CGRectMake(20, 620, 350, 120));
  list->setContentSize(CGSizeMake(350, 600));
  auto row = makeButton(CGRectMake(0, 40, 350, 44), "Row");
  list->addSubview(row);
  s.form->addSubview(list);
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  uikittest::drag(s.window, middleInWindow(row), CGPointMake(middleInWindow(row).x, middleInWindow(row).y - 60));
  ASSERT_NE(list->contentOffset().y, 0);
  expectNoStep("a drag that scrolled");
  s.tap(row);
  EXPECT_EQ(nextStep().element.at("elementText"), "Row");

  // A navigation bar's back indicator touched beside its title: named by the
  // title it shows, which replay can find.
  auto bar = std::make_shared<UINavigationBar>(CGRectMake(0, 0, 390, UINavigationBar::kHeight));
  bar->setItems({std::make_shared<UINavigationItem>("List"), std::make_shared<UINavigationItem>("Row 3")}, false);
  s.form->addSubview(bar);
  bar->layoutIfNeeded();
  std::make_shared<UIViewsManager>()->GetAllViews(s.window, true);
  ASSERT_TRUE(bar->_backIndicatorView());
  CGRect back = bar->_backIndicatorView()->convertRectToView(bar->_backIndicatorView()->bounds(), nullptr);
  s.tap(CGPointMake(back.origin.x + 8, back.origin.y + back.size.height / 2));
  EXPECT_EQ(bar->items().size(), 1u) << "the tap went back";
  step = nextStep();
  EXPECT_EQ(step.element.at("className"), "_UINavigationBarBackIndicatorView");
  EXPECT_EQ(step.element.at("elementText"), "List");
  bar->removeFromSuperview();

  // The text typed into a field is recorded when the user moves on, even to a
  // field that came too late to be recorded itself.
  s.tap(s.user);
  EXPECT_EQ(nextStep().element.at("id"), "userField");
  ASSERT_TRUE(UIKeyboard::typeText("ann"));
  auto late = makeField(CGRectMake(20, 760, 350, 44), "Late");
  s.form->addSubview(late);
  s.tap(late);
  step = nextStep();
  EXPECT_EQ(step.action, "TypeTextOnEditBox");
  EXPECT_EQ(step.data, "ann");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UITextField[0]");

  // A quick tap on a button that replaces the screen at once (a log-in opening
  // the next screen) records the button as it was on the screen it left.
  auto nextScreen = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
  nextScreen->addSubview(makeButton(CGRectMake(20, 190, 160, 44), "Elsewhere"));
  s.logIn->addAction(
      [&](auto, auto) {
        s.form->removeFromSuperview();
        s.window->addSubview(nextScreen);
      },
      UIControlEventTouchUpInside);
  s.tap(s.logIn);
  ASSERT_EQ(s.form->superview(), nullptr);
  step = nextStep();
  EXPECT_EQ(step.action, "ClickButton");
  EXPECT_EQ(step.element.at("elementText"), "Log In");
  EXPECT_EQ(step.element.at("index"), "1");
  EXPECT_EQ(step.element.at("xpath:position"), "\\UIView[0]\\UIButton[1]");
  EXPECT_EQ(step.element.at("parent").at("height"), "844");
  expectImageOfSize(step.element, CGSizeMake(170, 44));
  expectNoStep("after the button");
}

TEST(RecordingTest, QuickTapsNewViewsAndPlayback) {
  Screen s;
  s.tap(s.user);
  EXPECT_EQ(nextStep().action, "Click");
  ASSERT_TRUE(UIKeyboard::typeText("q"));
  {
    // Held in one cycle, as a slow dispatch would hold them: the pending text
    // first, then every element tapped, in order; a second tap on an element
    // within the cycle adds nothing.
    ElementsQueue::EventDispatchScope oneCycle;
    s.tap(s.first);
    s.tap(s.logIn);
    s.tap(s.first);
    EXPECT_EQ(ElementsQueue::sharedInstance()->getElementsBucketSize(), 3u);  // the text and two touches
  }
  Step step = nextStep();
  EXPECT_EQ(step.action, "TypeTextOnEditBox");
  EXPECT_EQ(step.data, "q");
  step = nextStep();
  EXPECT_EQ(step.action, "ClickButton");
  EXPECT_EQ(step.element.at("elementText"), "First");
  step = nextStep();
  EXPECT_EQ(step.action, "ClickButton");
  EXPECT_EQ(step.element.at("elementText"), "Log In");
  expectNoStep("a repeated tap within one cycle");

  // A view the inventory walk has not reached yet cannot be recorded.
  auto young = makeButton(CGRectMake(20, 760, 160, 44), "Young");
  s.form->addSubview(young);
  s.tap(young);
  s.tap(s.first);
  step = nextStep();
  EXPECT_EQ(step.element.at("elementText"), "First");
  expectNoStep("a view without a recording GUID");

  // Once playback has started, nothing is recorded, and the application still
  // gets every touch.
  Utilities::createFunctionCallObject(std::nullopt);
  int taps = 0;
  s.logIn->addAction([&taps](auto, auto) { ++taps; }, UIControlEventTouchUpInside);
  s.tap(s.logIn);
  s.tap(s.remember);
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(ElementsQueue::sharedInstance()->getElementsBucketSize(), 0u);
  expectNoStep("after playback started");
}

}  // namespace
