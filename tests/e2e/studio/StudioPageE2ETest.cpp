// The studio as a person uses it, in headless Chromium, with the studio running the
// sample application itself (the test starts no application of its own while the
// studio runs): the page records a login with a check of the spied outcome, saves
// and replays it, records again on a new run, sees the application end and starts
// it again, opens the saved file, edits and saves it; `qvctl replay` of the edited
// file logs in on a fresh application, and the studio leaves no application behind.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
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

std::vector<qvtest::TreeView> treeOf(int port) {
  qvtest::LineClient device(port);
  return qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
}

std::string outcomeText(int port) {
  auto outcome = qvtest::findTreeView(treeOf(port), "outcomeLabel");
  return outcome ? outcome->text.value_or("") : "";
}

// The number after `label` in `text` (0 when absent).
int numberAfter(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + label.size());
}

// A process that has ended, or that nobody has reaped yet.
bool gone(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST(StudioPageE2ETest, RunsTheApplicationRecordsAgainAfterReplayAndEditsASavedRecording) {
  const auto work = std::filesystem::temp_directory_path() / ("qv-studio-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::path saved;
  std::vector<int> appPids;
  {
    AppOptions studioOptions;
    studioOptions.program = "qvstudio";
    // The application by its name, found on PATH as a person's shell would.
    studioOptions.arguments = {"--listen", "127.0.0.1:0", "--app", "sample-app"};
    const char* path = std::getenv("PATH");
    studioOptions.environment = {
        {"PATH", std::filesystem::absolute(qvtest::buildDir() / "bin").string() + ":" + (path ? path : "/usr/bin:/bin")}};
    studioOptions.readyLine = "qvstudio ready";
    studioOptions.stopSignal = SIGTERM;
    AppProcess studio(studioOptions);
    ASSERT_TRUE(studio.ready()) << studio.log();
    const std::string out = studio.output();
    const auto at = out.find("http://");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string url = out.substr(at, out.find(' ', at) - at);
    const int devicePort = numberAfter(out, "device input on 127.0.0.1:");
    ASSERT_GT(devicePort, 0) << out;

    std::vector<qvtest::TreeView> views;
    ASSERT_TRUE(qvtest::waitUntil([&] { return !(views = treeOf(devicePort)).empty(); }, 30s)) << studio.log();
    json scene = {{"url", url},
                  {"work", work.string()},
                  {"devicePort", devicePort},
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
    const std::string said = browser.output();
    ASSERT_NE(said.find("saved "), std::string::npos) << browser.log();
    saved = work / "edited.jsonl";
    for (auto at = said.find("app pid "); at != std::string::npos; at = said.find("app pid ", at + 1)) {
      appPids.push_back(std::atoi(said.c_str() + at + 8));
    }
    // The first run, the one after "Record again" and the one after "Restart".
    ASSERT_EQ(appPids.size(), 3u) << said;
    EXPECT_FALSE(gone(appPids.back()));
    // One log line per request.
    EXPECT_NE(studio.log().find("qvstudio: GET /api/state 200"), std::string::npos) << studio.log();
    EXPECT_NE(studio.log().find("qvstudio: POST /api/record-again 200"), std::string::npos) << studio.log();
    EXPECT_NE(studio.log().find("qvstudio: POST /api/open 400"), std::string::npos) << studio.log();
  }
  // The studio ended (SIGTERM) and took its application with it.
  for (int pid : appPids) EXPECT_TRUE(qvtest::waitUntil([&] { return gone(pid); }, 10s)) << pid;

  AppProcess fresh;
  ASSERT_TRUE(fresh.ready()) << fresh.log();
  EXPECT_EQ(outcomeText(fresh.port()), "Not signed in");
  auto run = qvtest::runQvctl({"replay", saved.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  std::istringstream lines(run.out);
  std::string line;
  int passed = 0;
  while (std::getline(lines, line)) passed += line.find(": passed in ") != std::string::npos ? 1 : 0;
  EXPECT_EQ(passed, 3) << run.out;
  // The edited text was typed.
  EXPECT_EQ(outcomeText(fresh.port()), "Welcome, zed");
  if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove_all(work);
}

}  // namespace
