// The device-input server in process: touches and typing reach the views through
// the application's sendEvent:, answers come after the work, malformed lines
// change nothing, and connections come and go (in turn and at once).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "device/UIDeviceInput.h"
#include "foundation/foundation.h"
#include "line_client.h"
#include "main_loop.h"
#include "wait.h"
#include "uikit/UIImagePNG.h"
#include "uikit/uikit.h"

namespace {

using qvtest::whileMainLoopRuns;

// Records every touch phase it receives, with the location in its coordinates.
// (A C++ subclass without a runtime class of its own: it answers "UIView".)
class TouchPad : public UIView {
 public:
  using UIView::UIView;
  struct Seen {
    UITouchPhase phase;
    CGPoint location;
    unsigned long tapCount;
    double timestamp;
    bool hasRecord;
  };
  void touchesBegan(const UITouchSet& t, const std::shared_ptr<UIEvent>& e) override { record(t, e); }
  void touchesMoved(const UITouchSet& t, const std::shared_ptr<UIEvent>& e) override { record(t, e); }
  void touchesEnded(const UITouchSet& t, const std::shared_ptr<UIEvent>& e) override { record(t, e); }
  void touchesCancelled(const UITouchSet& t, const std::shared_ptr<UIEvent>& e) override { record(t, e); }
  std::vector<Seen> seen;  // main thread only

 private:
  void record(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
    for (const auto& touch : touches) {
      seen.push_back({touch->phase(), touch->locationInView(self<UIView>()), touch->tapCount(), touch->timestamp(),
                      event->_hidEvent() != nullptr && touch->_hidEvent() != nullptr});
    }
  }
};

class DeviceInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    window->setBackgroundColor(UIColor::whiteColor());
    pad = std::make_shared<TouchPad>(CGRectMake(0, 100, 390, 200));
    button = std::make_shared<UIButton>(CGRectMake(20, 320, 150, 44));
    button->setTitle("Press", UIControlStateNormal);
    button->addAction([this](auto, auto) { ++presses; }, UIControlEventTouchUpInside);
    field = std::make_shared<UITextField>(CGRectMake(20, 380, 300, 40));
    field->setPlaceholder("Name");
    field->setAccessibilityIdentifier("nameField");
    label = std::make_shared<UILabel>(CGRectMake(20, 440, 300, 30));
    label->setText("Say \"hi\"");
    field->layer()->setBorderWidth(1.5);
    for (const auto& v : std::vector<std::shared_ptr<UIView>>{pad, button, field, label}) window->addSubview(v);
    window->makeKeyAndVisible();
    ASSERT_TRUE(UIDeviceInput::startOnPort(0));
    port = UIDeviceInput::port();
    ASSERT_GT(port, 0);
  }

  void TearDown() override {
    UIDeviceInput::stop();
    field->resignFirstResponder();
    window->setHidden(true);
  }

  // One exchange per call on a new connection.
  std::string ask(const std::string& line) {
    return whileMainLoopRuns([&] {
      qvtest::LineClient client(port);
      return client.ask(line);
    });
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<TouchPad> pad;
  std::shared_ptr<UIButton> button;
  std::shared_ptr<UITextField> field;
  std::shared_ptr<UILabel> label;
  int presses = 0;
  int port = 0;
};

}  // namespace

TEST_F(DeviceInputTest, TapsArriveThroughSendEventAsAFingersWould) {
  // Count what passes the application's sendEvent: (its method-table entry).
  objc::Method* method = UIApplication::classObject()->getInstanceMethod("sendEvent:");
  ASSERT_NE(method, nullptr);
  auto original = method->implementation();
  int dispatched = 0;
  method->setImplementation(objc::IMP::make<void, std::shared_ptr<UIEvent>>(
      std::function<void(objc::Object&, std::shared_ptr<UIEvent>)>(
          [&](objc::Object& app, std::shared_ptr<UIEvent> event) {
            ++dispatched;
            (*original.as<void, std::shared_ptr<UIEvent>>())(app, event);
          })));

  EXPECT_EQ(ask("tap 50 150"), "ok UIView");
  method->setImplementation(original);
  EXPECT_EQ(dispatched, 2);
  ASSERT_EQ(pad->seen.size(), 2u);
  EXPECT_EQ(pad->seen[0].phase, UITouchPhaseBegan);
  EXPECT_EQ(pad->seen[1].phase, UITouchPhaseEnded);
  EXPECT_EQ(pad->seen[0].location, CGPointMake(50, 50));
  EXPECT_TRUE(pad->seen[0].hasRecord);

  // A second tap soon after at the same place is a double tap ("soon" is judged
  // from the touches' own timestamps, so a slow machine does not fail this).
  EXPECT_EQ(ask("tap 51 151"), "ok UIView");
  ASSERT_EQ(pad->seen.size(), 4u);
  bool soon = pad->seen[2].timestamp - pad->seen[1].timestamp <= UITapGestureRecognizer::kMaximumTapInterval;
  EXPECT_EQ(pad->seen[2].tapCount, soon ? 2u : 1u);
  EXPECT_EQ(ask("tap 150 250"), "ok UIView");  // elsewhere: a new first tap
  EXPECT_EQ(pad->seen.back().tapCount, 1u);

  EXPECT_EQ(ask("tap 60 340"), "ok UIButton");
  EXPECT_EQ(presses, 1);
}

TEST_F(DeviceInputTest, DownMoveUpKeepTheFingerAcrossCommandsAndConnections) {
  EXPECT_EQ(ask("down 10 110"), "ok UIView");
  EXPECT_EQ(ask("tap 10 110"), "error: the finger is already down");
  EXPECT_EQ(ask("move 30 130"), "ok");
  EXPECT_EQ(ask("up 40 140"), "ok");
  EXPECT_EQ(ask("up 40 140"), "error: no finger is down");
  EXPECT_EQ(ask("move 40 140"), "error: no finger is down");
  ASSERT_EQ(pad->seen.size(), 3u);
  EXPECT_EQ(pad->seen[1].phase, UITouchPhaseMoved);
  EXPECT_EQ(pad->seen[1].location, CGPointMake(30, 30));
  EXPECT_EQ(pad->seen[2].location, CGPointMake(40, 40));

  EXPECT_EQ(ask("swipe 10 110 110 190"), "ok");
  ASSERT_EQ(pad->seen.size(), 3u + 12u);  // began, 10 moves, ended
  EXPECT_EQ(pad->seen.back().location, CGPointMake(110, 90));

  // A swipe that leaves the screen is refused there, and the finger is not left down.
  EXPECT_EQ(ask("swipe 10 110 10 2000 4"), "error: point outside the screen");
  EXPECT_EQ(pad->seen.back().phase, UITouchPhaseEnded);
  EXPECT_EQ(ask("down 10 110"), "ok UIView");
  EXPECT_EQ(ask("up 10 110"), "ok");
}

TEST_F(DeviceInputTest, TypingGoesThroughTheKeyboardIntoTheFirstResponder) {
  EXPECT_EQ(ask("type abc"), "error: no text input is first responder");
  EXPECT_EQ(ask("tap 100 400"), "ok UITextField");
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(UIKeyboard::isOnScreen());
  EXPECT_EQ(ask("type Hi there\\bE"), "ok");
  EXPECT_EQ(field->text(), "Hi therE");

  // The keyboard window lies above the application's: a tap on a key types it.
  auto key = UIKeyboard::activeKeyboard()->layout()->keyNamed("q");
  ASSERT_NE(key, nullptr);
  CGPoint onScreen = key->convertPointToView({key->bounds().size.width / 2, key->bounds().size.height / 2}, nullptr);
  CGRect kf = key->window()->frame();
  char line[64];
  std::snprintf(line, sizeof line, "tap %g %g", onScreen.x + kf.origin.x, onScreen.y + kf.origin.y);
  EXPECT_EQ(ask(line), "ok UIKeyboardKeyView");
  EXPECT_EQ(field->text(), "Hi therEq");
  EXPECT_EQ(ask("type \\n"), "ok");  // return ends the editing
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(DeviceInputTest, TreeAndScreenshotShowTheScreen) {
  auto lines = whileMainLoopRuns([&] {
    qvtest::LineClient client(port);
    return client.tree();
  });
  ASSERT_TRUE(lines.has_value());
  ASSERT_FALSE(lines->empty());
  EXPECT_EQ(lines->front().rfind("UIWindow {{0, 0}, {390, 844}} hidden=0", 0), 0u) << lines->front();
  bool sawField = false, sawLabel = false, sawButtonTitle = false;
  for (const auto& l : *lines) {
    if (l == "  UITextField {{20, 380}, {300, 40}} hidden=0 text=\"Name\" id=\"nameField\" border=1.5") sawField = true;
    if (l == "  UILabel {{20, 440}, {300, 30}} hidden=0 text=\"Say \\\"hi\\\"\"") sawLabel = true;
    if (l.rfind("    UILabel ", 0) == 0 && l.find("text=\"Press\"") != std::string::npos) sawButtonTitle = true;
  }
  EXPECT_TRUE(sawField);
  EXPECT_TRUE(sawLabel);
  EXPECT_TRUE(sawButtonTitle);  // the button's title label, one level deeper

  auto dir = std::filesystem::temp_directory_path() / ("qv_device_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "screen.png").string();
  EXPECT_EQ(ask("screenshot " + path), "ok " + path);
  std::ifstream in(path, std::ios::binary);
  NSData bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto image = UIImageWithPNGData(bytes);
  ASSERT_NE(image, nullptr);
  CGRect screen = UIScreen::mainScreen()->bounds();
  EXPECT_EQ(image->pixelWidth(), static_cast<int>(screen.size.width * UIScreen::mainScreen()->scale()));
  EXPECT_EQ(ask("screenshot " + (dir / "no" / "such.png").string()).rfind("error: cannot write", 0), 0u);
  std::filesystem::remove_all(dir);

  window->setHidden(true);
  EXPECT_EQ(ask("tree"), "error: no key window");
  EXPECT_EQ(ask("tap 10 10"), "error: no key window");
}

TEST_F(DeviceInputTest, MalformedLinesGetOneErrorAndChangeNothing) {
  auto answers = whileMainLoopRuns([&] {
    qvtest::LineClient client(port);
    std::vector<std::string> out;
    for (const char* line : {"tap", "tap 1", "tap a b", "tap nan 5", "swipe 1 2", "type", "dance", "", "tap -5 10",
                             "tap 10 900", "down 10 110 7"}) {
      out.push_back(client.ask(line));
    }
    // A line far too long, then a valid command on the same connection.
    client.sendRaw(std::string(10000, 'x') + "\n");
    out.push_back(client.readLine().value_or(""));
    out.push_back(client.ask("tap 50 150"));
    return out;
  });
  ASSERT_EQ(answers.size(), 13u);
  for (std::size_t i = 0; i + 2 < answers.size(); ++i) EXPECT_EQ(answers[i].rfind("error: ", 0), 0u) << answers[i];
  EXPECT_EQ(answers[11], "error: line too long");
  EXPECT_EQ(answers[12], "ok UIView");
  EXPECT_EQ(pad->seen.size(), 2u);  // only the last tap reached the screen
}

TEST_F(DeviceInputTest, ClientsInTurnAtOnceAndGoneMidCommand) {
  // A client that leaves before its answer: the swipe still completes, nothing breaks.
  whileMainLoopRuns([&] {
    qvtest::LineClient client(port);
    client.sendLine("swipe 10 110 200 200 30");
    client.close();
    return 0;
  });
  EXPECT_TRUE(qvtest::waitUntil([&] {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false);
    return !pad->seen.empty() && pad->seen.back().phase == UITouchPhaseEnded;
  }));

  // Several clients at once, each tapping the button; every tap counts once.
  presses = 0;
  auto answers = whileMainLoopRuns([&] {
    std::vector<std::future<int>> clients;
    for (int c = 0; c < 4; ++c) {
      clients.push_back(std::async(std::launch::async, [&] {
        qvtest::LineClient client(port);
        int ok = 0;
        for (int i = 0; i < 5; ++i) ok += client.ask("tap 60 340") == "ok UIButton";
        return ok;
      }));
    }
    int total = 0;
    for (auto& f : clients) total += f.get();
    return total;
  });
  EXPECT_EQ(answers, 20);
  EXPECT_EQ(presses, 20);

  // Then one after another.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ask("tap 60 340"), "ok UIButton");
  EXPECT_EQ(presses, 23);
}

TEST_F(DeviceInputTest, StopReleasesWaitingClientsAndThePortIsNamedInAFile) {
  // A command waiting for a main thread that does not turn: stop answers it.
  std::promise<void> sent;
  auto waiting = std::async(std::launch::async, [&] {
    qvtest::LineClient client(port);
    client.sendLine("tap 50 150");
    sent.set_value();
    return client.readLine(std::chrono::seconds(10)).value_or("(none)");
  });
  sent.get_future().wait();
  UIDeviceInput::stop();
  std::string answer = waiting.get();
  EXPECT_TRUE(answer == "error: device input stopped" || answer == "(none)") << answer;
  EXPECT_TRUE(pad->seen.empty());
  EXPECT_FALSE(UIDeviceInput::isRunning());
  EXPECT_EQ(UIDeviceInput::port(), 0);
  qvtest::LineClient refused;
  EXPECT_FALSE(refused.connect(port));

  auto file = std::filesystem::temp_directory_path() / ("qv_port_" + std::to_string(::getpid()));
  ::setenv("QUORVEL_DEVICE_PORT", "0", 1);
  ::setenv("QUORVEL_DEVICE_PORT_FILE", file.c_str(), 1);
  ASSERT_TRUE(UIDeviceInput::start());
  EXPECT_TRUE(UIDeviceInput::start());  // already running
  std::ifstream in(file);
  int written = 0;
  in >> written;
  EXPECT_EQ(written, UIDeviceInput::port());
  port = written;
  EXPECT_EQ(ask("tap 50 150"), "ok UIView");
  UIDeviceInput::stop();
  ::setenv("QUORVEL_DEVICE_PORT", "not-a-port", 1);
  EXPECT_FALSE(UIDeviceInput::start());
  ::unsetenv("QUORVEL_DEVICE_PORT");
  ::unsetenv("QUORVEL_DEVICE_PORT_FILE");
  std::filesystem::remove(file);
}
