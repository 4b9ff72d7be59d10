// Replay against a small stand-in of the agent's screen: recordings read with every
// bad line named, and steps played through the playback requests they need.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "qvctl/Replay.h"

namespace {

using nlohmann::json;
using qvctl::Request;

// Elements on a screen, answering the playback commands the way the agent does.
struct FakeScreen {
  struct Element {
    std::string className, xpath, text;
    std::optional<bool> on;  // switches
    int hiddenFor = 0;       // find requests that do not see it yet (a slow screen)
    int movesFor = 0;        // layout queries during which it still moves
    double y = 100;
    int pagesBelow = 0;      // swipes up before it scrolls into view
  };
  int pagesToScroll = 0;     // how far the content can scroll up
  int pagesScrolled = 0;
  std::vector<Element> elements;
  std::map<std::string, std::size_t> ids;  // element IDs of the last find
  std::vector<std::string> log;            // "command target" per request

  std::string operator()(const Request& r) {
    const std::string f = r.functionname.value_or("");
    log.push_back(f + " " + r.accessorvalue.value_or(""));
    if (f == "findelements") {
      ids.clear();
      json reply = json::array();
      for (std::size_t i = 0; i < elements.size(); ++i) {
        auto& e = elements[i];
        if (e.hiddenFor > 0 && e.hiddenFor--) continue;
        if (e.pagesBelow > 0) continue;
        bool match = r.tagname == e.className &&
                     (r.accessortype == "" || (r.accessortype == "xpath" && r.accessorvalue == e.xpath) ||
                      (r.accessortype == "text" && r.accessorvalue == e.text));
        if (!match) continue;
        std::string id = "ID" + std::to_string(i);
        ids[id] = i;
        reply.push_back({{"elementID", id}});
      }
      return reply.dump();
    }
    if (f == "ai_findelements") {
      ids.clear();
      json reply = json::array();
      for (auto& e : elements) {
        if (e.hiddenFor > 0 || e.pagesBelow > 0 || (!r.tagname->empty() && r.tagname != e.className)) continue;
        if (e.movesFor > 0 && e.movesFor--) e.y += 10;
        reply.push_back({{"elementID", "AI"}, {"elementType", e.className}, {"text", e.text},
                         {"imageBase64", "..."},
                         {"rectangle", {{"x", "20.00"}, {"y", std::to_string(e.y)}, {"width", "350.00"},
                                        {"height", "48.00"}}}});
      }
      return reply.dump();
    }
    if (f == "ai_getscreensnapshot") return R"([{"exceptionmsg":"no window"}])";
    if (f == "swipeon") {
      // A finger dragged up moves the content a page up, until its end.
      const int step = r.datavalue == "up" ? 1 : r.datavalue == "down" ? -1 : 0;
      if (step == 0 || pagesScrolled + step < 0 || pagesScrolled + step > pagesToScroll) return "[]";
      pagesScrolled += step;
      for (auto& e : elements) {
        if (e.className == "UIScrollView") continue;
        e.pagesBelow -= step;
        e.y -= 300 * step;
      }
      return "[]";
    }
    auto it = ids.find(r.accessorvalue.value_or(""));
    if (it == ids.end()) return "[]";
    Element& e = elements[it->second];
    if (f == "clickelement" && e.on) e.on = !*e.on;
    if (f == "sendkeysonelement") e.text = r.datavalue.value_or("");
    if (f == "gettext") return json::array({{{"output", e.text}}}).dump();
    if (f == "isselected" && e.on) return json::array({{{"output", *e.on ? "true" : "false"}}}).dump();
    if (f == "isdisplayed" || f == "isenabled") return R"([{"output":"true"}])";
    return "[]";
  }
};

std::string stepLine(const std::string& action, json element, const std::string& data = "") {
  element["mode"] = "native";
  return json::array({{{"action", action}, {"popupName", ""},
                       {"arguments", {element, {{"type", "string"}, {"data", data}}}}}})
      .dump();
}

TEST(QvctlReplay, EveryBadLineIsNamedAndNothingParsesFromABrokenRecording) {
  const std::string good = stepLine("Click", {{"className", "UILabel"}, {"xpath:position", "\\UIView[0]"}});
  const std::string spyList = R"([{"tagName":"UILabel","class":"UILabel","xpath:position":"\\UIView[0]"}])";
  const std::string text = good + "\n\n" + spyList + "\n" + "{not json\n" +
                           stepLine("Wiggle", {{"className", "UIView"}, {"xpath:position", "x"}}) + "\n" +
                           R"([{"action":"Click","popupName":""}])" + "\n" +
                           stepLine("TypeTextOnEditBox", {{"className", "UITextField"}}) + "\n" +
                           R"([{"popupName":"","arguments":[{},{}]}])" + "\n";
  try {
    qvctl::parseRecording(text, "login");
    FAIL() << "a broken recording parsed";
  } catch (const qvctl::RecordingError& e) {
    EXPECT_EQ(e.problems(), (std::vector<std::string>{
                                "login:4: not JSON",
                                "login:5: unknown action \"Wiggle\"",
                                "login:6: missing key \"arguments\"",
                                "login:7: missing key \"xpath:position\" (and no \"elementText\" to find the element by)",
                                "login:8: missing key \"action\"",
                            }));
  }
  // Blank lines and spy lists are no steps; the rest keeps its line numbers.
  auto recording = qvctl::parseRecording(good + "\n\n" + spyList + "\n" + good + "\n", "ok");
  ASSERT_EQ(recording.steps.size(), 2u);
  EXPECT_EQ(recording.steps[1].line, 4);
}

TEST(QvctlReplay, StepsFindTheirElementsActAndReportWhatFailed) {
  FakeScreen screen;
  screen.elements = {{"UITextField", "\\UIView[0]\\UITextField[0]", "User name", {}},
                     {"UISwitch", "\\UIView[0]\\UISwitch[0]", "", false},
                     {"UIButton", "\\UIView[0]\\UIButton[0]", "Log In", {}}};
  const std::string recorded =
      stepLine("Click", {{"className", "UITextField"}, {"xpath:position", "\\UIView[0]\\UITextField[0]"}}) + "\n" +
      stepLine("TypeTextOnEditBox", {{"className", "UITextField"}, {"xpath:position", "\\UIView[0]\\UITextField[0]"}},
               "abc") + "\n" +
      // Recorded as on: clicked once, then left alone when it is on already.
      stepLine("Mobile_SelectSwitch", {{"className", "UISwitch"}, {"xpath:position", "\\UIView[0]\\UISwitch[0]"}}) +
      "\n" +
      stepLine("Mobile_SelectSwitch", {{"className", "UISwitch"}, {"xpath:position", "\\UIView[0]\\UISwitch[0]"}}) +
      "\n" +
      // Moved: no longer at its xpath, found by its text and class.
      stepLine("ClickButton", {{"className", "UIButton"}, {"xpath:position", "\\UIView[1]\\UIButton[0]"},
                               {"elementText", "Log In"}}) + "\n" +
      stepLine("ClickButton", {{"className", "UIButton"}, {"xpath:position", "\\UIView[0]\\UIButton[9]"},
                               {"elementText", "Sign Up"}}) + "\n" +
      stepLine("Click", {{"className", "UITextField"}, {"xpath:position", "\\UIView[0]\\UITextField[0]"}}) + "\n";
  auto recording = qvctl::parseRecording(recorded, "login");
  std::vector<int> reported;
  qvctl::ReplayOptions options;
  options.timeout = std::chrono::milliseconds(300);
  options.pollInterval = std::chrono::milliseconds(1);
  options.onStep = [&](const qvctl::StepResult& r) { reported.push_back(r.number); };
  auto results = qvctl::replay(recording, std::ref(screen), options);

  ASSERT_EQ(results.size(), 6u) << "the step after a failed one is not played";
  EXPECT_EQ(reported, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(results[i].passed) << i << ": " << results[i].message;
  EXPECT_EQ(screen.elements[0].text, "abc");
  EXPECT_EQ(screen.elements[1].on, true);
  EXPECT_EQ(results[2].message, "switched on");
  EXPECT_EQ(results[3].message, "already on");
  EXPECT_FALSE(results[5].passed);
  // What was looked for, and what the screen held of that class instead.
  EXPECT_EQ(results[5].message,
            "element not found within 0.3 s: UIButton \"Sign Up\" at xpath \\UIView[0]\\UIButton[9]; the screen "
            "held UIButton \"Log In\" at (20.00, 100.000000) 350.00x48.00");
  EXPECT_NE(qvctl::resultLine(results[5]).find("step 6 (line 6) ClickButton UIButton \"Sign Up\""), std::string::npos)
      << qvctl::resultLine(results[5]);
  json line = json::parse(qvctl::resultJson("login", results[1]));
  EXPECT_EQ(line["data"], "abc");
  EXPECT_EQ(line["passed"], true);
  EXPECT_EQ(line["line"], 2);

  options.keepGoing = true;
  screen.elements[1].on = false;
  results = qvctl::replay(recording, std::ref(screen), options);
  EXPECT_EQ(results.size(), 7u);
  EXPECT_TRUE(results[6].passed);
}

}  // namespace

namespace {

TEST(QvctlReplay, AnElementOffTheScreenIsScrolledToAndAFailureSaysItScrolled) {
  FakeScreen screen;
  screen.elements = {{"UIScrollView", "\\UIView[0]\\UIScrollView[0]", "", {}},
                     {"UILabel", "\\UIView[0]\\UIScrollView[0]\\UILabel[0]", "Row 1", {}},
                     {"UILabel", "\\UIView[0]\\UIScrollView[0]\\UILabel[24]", "Row 25", {}}};
  screen.elements[2].pagesBelow = 2;
  screen.pagesToScroll = 3;
  const std::string recorded =
      stepLine("Click", {{"className", "UILabel"}, {"xpath:position", "\\UIView[0]\\UIScrollView[0]\\UILabel[24]"},
                         {"elementText", "Row 25"}}) + "\n" +
      stepLine("Click", {{"className", "UILabel"}, {"xpath:position", "\\UIView[0]\\UIScrollView[0]\\UILabel[98]"},
                         {"elementText", "Row 99"}}) + "\n";
  qvctl::ReplayOptions options;
  options.timeout = std::chrono::milliseconds(2000);
  options.pollInterval = std::chrono::milliseconds(1);
  auto results = qvctl::replay(qvctl::parseRecording(recorded, "list"), std::ref(screen), options);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].passed) << results[0].message;
  auto click = std::find(screen.log.begin(), screen.log.end(), "clickelement ID2");
  EXPECT_EQ(std::count(screen.log.begin(), click, "swipeon "), 2) << "a page at a time, as far as needed";
  // Not anywhere: down to the end, back up to the start, and the message says so.
  EXPECT_FALSE(results[1].passed);
  EXPECT_NE(results[1].message.find("element not found within 2.0 s (the screen was scrolled "), std::string::npos)
      << results[1].message;
  EXPECT_EQ(screen.pagesScrolled, 0);
}

TEST(QvctlReplay, StepsWaitForASettledScreenAndAssertionsSayWhatTheyFound) {
  FakeScreen screen;
  screen.elements = {{"UIButton", "\\UIView[0]\\UIButton[0]", "Log In", {}, 6, 4},
                     {"UILabel", "\\UIView[0]\\UILabel[0]", "Not signed in", {}},
                     {"UIImageView", "\\UIView[0]\\UIImageView[0]", "", {}, 0, 1000000}};
  const json label = {{"className", "UILabel"}, {"xpath:position", "\\UIView[0]\\UILabel[0]"},
                      {"mode", "native"}};
  qvctl::StepTarget labelTarget{"UILabel", "\\UIView[0]\\UILabel[0]", "Not signed in", "native", 0};
  qvctl::StepTarget gone{"UISwitch", "\\UIView[0]\\UISwitch[0]", std::nullopt, "native", 0};
  const std::string text =
      stepLine("ClickButton", {{"className", "UIButton"}, {"xpath:position", "\\UIView[0]\\UIButton[0]"},
                               {"elementText", "Log In"}}) + "\n" +
      qvctl::assertionLine("text", labelTarget, "Not signed in") + "\n" +
      qvctl::assertionLine("visible", labelTarget, "") + "\n" +
      qvctl::assertionLine("text", labelTarget, "Welcome, abc") + "\n" +
      qvctl::assertionLine("enabled", gone, "") + "\n" +
      stepLine("ClickImage", {{"className", "UIImageView"}, {"xpath:position", "\\UIView[0]\\UIImageView[0]"}}) +
      "\n";
  auto recording = qvctl::parseRecording(text, "checks");
  ASSERT_EQ(recording.steps.size(), 6u);
  EXPECT_EQ(recording.steps[1].assertion, "text");

  qvctl::ReplayOptions options;
  options.timeout = std::chrono::milliseconds(500);
  options.pollInterval = std::chrono::milliseconds(1);
  options.keepGoing = true;
  options.snapshotDir = ::testing::TempDir();
  auto results = qvctl::replay(recording, std::ref(screen), options);
  ASSERT_EQ(results.size(), 6u);

  // Found only after six finds, then clicked only once its frame stopped moving:
  // the click came after the last layout query that still saw it move.
  EXPECT_TRUE(results[0].passed) << results[0].message;
  auto click = std::find(screen.log.begin(), screen.log.end(), "clickelement ID0");
  ASSERT_NE(click, screen.log.end());
  EXPECT_EQ(std::count(screen.log.begin(), click, "ai_findelements "), 5) << "four moving, the fifth alike the fourth";
  EXPECT_TRUE(results[1].passed) << results[1].message;
  EXPECT_EQ(results[1].message, "reads \"Not signed in\"");
  EXPECT_TRUE(results[2].passed) << results[2].message;
  EXPECT_FALSE(results[3].passed);
  EXPECT_EQ(results[3].message,
            "assert text failed: UILabel \"Not signed in\" at xpath \\UIView[0]\\UILabel[0] reads \"Not signed "
            "in\", expected \"Welcome, abc\" (no screen snapshot: the agent answered: no window)");
  EXPECT_GE(results[3].time, std::chrono::milliseconds(500)) << "asked again until the deadline";
  EXPECT_FALSE(results[4].passed);
  EXPECT_EQ(results[4].message.rfind("element not found within 0.5 s: UISwitch at xpath \\UIView[0]\\UISwitch[0]; "
                                     "no UISwitch on the screen, which held UIButton \"Log In\"", 0),
            0u)
      << results[4].message;
  // Found every time, but never still: not clicked, and said so.
  EXPECT_FALSE(results[5].passed);
  EXPECT_EQ(results[5].message.rfind("element found, but its screen was still changing after 0.5 s: UIImageView at "
                                     "xpath \\UIView[0]\\UIImageView[0]; the screen held UIImageView \"\" at (20.00, ",
                                     0),
            0u)
      << results[5].message;
  EXPECT_EQ(std::count(screen.log.begin(), screen.log.end(), "clickelement ID2"), 0);

  // Assertion lines are objects of their own shape, checked like steps.
  EXPECT_THROW(qvctl::parseRecording(R"({"assert":"colour","target":{"className":"UILabel","elementText":"x"}})",
                                     "bad"),
               qvctl::RecordingError);
  EXPECT_THROW(qvctl::parseRecording(R"({"assert":"text","target":{"className":"UILabel","elementText":"x"}})",
                                     "bad"),
               qvctl::RecordingError);
  EXPECT_THROW(qvctl::parseRecording(R"({"className":"UILabel"})", "bad"), qvctl::RecordingError);
}

}  // namespace
