// The studio as a person uses it, in headless Chromium: on a fresh sample
// application the page records a login (a tap on the user field, "abc" typed, a tap
// on "Log In"), lists the three steps with their images, saves them, spies on the
// outcome label, adds a check of its text, and replays; then `qvctl replay` of the
// saved file logs in on a second fresh application, and a wrong login fails the check.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app_process.h"
#include "device_tree.h"
#include "line_client.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::AppOptions;
using qvtest::AppProcess;

json pointOf(const std::vector<qvtest::TreeView>& views, const std::string& identifier) {
  auto view = qvtest::findTreeView(views, identifier);
  EXPECT_TRUE(view) << identifier;
  if (!view) return nullptr;
  return {{"x", view->middle().x}, {"y", view->middle().y}};
}

std::vector<qvtest::TreeView> treeOf(const AppProcess& app) {
  qvtest::LineClient device(app.port());
  return qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
}

std::string outcomeText(const AppProcess& app) {
  auto outcome = qvtest::findTreeView(treeOf(app), "outcomeLabel");
  return outcome ? outcome->text.value_or("") : "";
}

TEST(StudioPageE2ETest, RecordSpySaveInThePageThenReplayOnAFreshApplication) {
  const auto work = std::filesystem::temp_directory_path() / ("qv-studio-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::path saved;
  {
    AppProcess app;
    ASSERT_TRUE(app.ready()) << app.log();
    AppOptions studioOptions;
    studioOptions.program = "qvstudio";
    studioOptions.arguments = {"--listen", "127.0.0.1:0", "--device-port", std::to_string(app.port())};
    studioOptions.readyLine = "qvstudio ready";
    AppProcess studio(studioOptions);
    ASSERT_TRUE(studio.ready()) << studio.log();
    const std::string out = studio.output();
    const auto at = out.find("http://");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string url = out.substr(at, out.find(' ', at) - at);

    auto views = treeOf(app);
    ASSERT_FALSE(views.empty());
    json scene = {{"url", url},
                  {"downloads", work.string()},
                  {"screenshot", (work / "studio.png").string()},
                  {"devicePort", app.port()},
                  {"screen", {{"width", views[0].frame.size.width}, {"height", views[0].frame.size.height}}},
                  {"userField", pointOf(views, "userField")},
                  {"logIn", pointOf(views, "loginButton")},
                  {"outcome", pointOf(views, "outcomeLabel")}};

    AppOptions browserOptions;
    browserOptions.program = QV_NODE;
    browserOptions.arguments = {QV_STUDIO_SCRIPT};
    browserOptions.readyLine = "";
    browserOptions.environment = {{"QV_STUDIO_SCENE", scene.dump()}};
    AppProcess browser(browserOptions);
    ASSERT_TRUE(qvtest::waitUntil([&] { return !browser.alive(); }, 180s)) << browser.output() << browser.log();
    EXPECT_EQ(browser.exitStatus(), 0) << browser.output() << "\n" << browser.log() << "\nstudio:\n"
                                       << studio.log();
    ASSERT_NE(browser.output().find("saved "), std::string::npos) << browser.log();
    saved = work / "recording.jsonl";
    EXPECT_EQ(outcomeText(app), "Welcome, abc");
    // One log line per request.
    EXPECT_NE(studio.log().find("qvstudio: GET /api/state 200"), std::string::npos) << studio.log();
    EXPECT_NE(studio.log().find("qvstudio: POST /api/tap 200"), std::string::npos) << studio.log();
  }

  AppProcess fresh;
  ASSERT_TRUE(fresh.ready()) << fresh.log();
  EXPECT_EQ(outcomeText(fresh), "Not signed in");
  auto run = qvtest::runQvctl({"replay", saved.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  std::istringstream lines(run.out);
  std::string line;
  int passed = 0;
  while (std::getline(lines, line)) passed += line.find(": passed in ") != std::string::npos ? 1 : 0;
  EXPECT_EQ(passed, 4) << run.out;
  EXPECT_EQ(outcomeText(fresh), "Welcome, abc");

  // A wrong login against the same assertion: it fails with the label's actual text.
  std::ifstream in(saved);
  std::vector<std::string> recorded;
  for (std::string l; std::getline(in, l);) recorded.push_back(l);
  ASSERT_EQ(recorded.size(), 4u);
  json typing = json::parse(recorded[1]);
  typing[0]["arguments"][1]["data"] = "";
  const auto wrong = work / "wrong.jsonl";
  std::ofstream(wrong) << recorded[0] << "\n" << typing.dump() << "\n" << recorded[2] << "\n" << recorded[3] << "\n";
  run = qvtest::runQvctl({"replay", "--timeout", "1", wrong.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("reads \"Please enter your user name\", expected \"Welcome, abc\""), std::string::npos)
      << run.out;
  if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove_all(work);
}

}  // namespace
