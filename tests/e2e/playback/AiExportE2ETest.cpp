// The AI export through qvctl against the sample application with the agent in it:
// the login screen described element by element, the returned element IDs used to
// log in, and the screen snapshot written as a JPEG file. The screen runs at scale
// 3 (not the platform's default), so that an image made at the wrong scale shows.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "foundation/data.h"
#include "foundation/json.h"
#include "app_process.h"
#include "line_client.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

constexpr double kScale = 3;

qvtest::AppOptions appAtScale3() {
  qvtest::AppOptions options;
  options.environment["QUORVEL_SCREEN"] = "390x844@3";
  return options;
}

struct Size {
  int width = 0;
  int height = 0;
};

// The pixel size of a JPEG that decodes completely; absent otherwise.
std::optional<Size> decodeJPEG(const std::string& bytes) {
  tjhandle handle = tjInitDecompress();
  if (!handle) return std::nullopt;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  Size size;
  int subsampling = 0, colorspace = 0;
  bool ok = tjDecompressHeader3(handle, data, bytes.size(), &size.width, &size.height, &subsampling, &colorspace) == 0 &&
            size.width > 0 && size.height > 0;
  if (ok) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(size.width) * size.height * 3);
    ok = tjDecompress2(handle, data, bytes.size(), pixels.data(), size.width, 0, size.height, TJPF_RGB, 0) == 0;
  }
  tjDestroy(handle);
  if (!ok) return std::nullopt;
  return size;
}

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

// The window rectangle of the first device-input tree line of class `cls` holding
// `marker` ("UIButton {{20, 339}, {350, 48}} hidden=0 text=...").
std::optional<Rect> treeRect(const std::vector<std::string>& tree, const std::string& cls, const std::string& marker) {
  for (const auto& line : tree) {
    const std::size_t start = line.find_first_not_of(' ');
    if (line.compare(start, cls.size() + 1, cls + " ") != 0 || line.find(marker) == std::string::npos) continue;
    Rect r;
    if (std::sscanf(line.c_str() + start + cls.size(), " {{%lf, %lf}, {%lf, %lf}}", &r.x, &r.y, &r.width, &r.height) == 4) {
      return r;
    }
  }
  return std::nullopt;
}

std::string twoDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The first entry of an AI list of the class with the text.
std::optional<JSONValue> entryOf(const JSONValue& list, const std::string& type, const std::string& text) {
  if (!list.is_array()) return std::nullopt;
  for (const auto& entry : list) {
    if (entry.value("elementType", "") == type && entry.value("text", "") == text) return entry;
  }
  return std::nullopt;
}

// The AI list once the agent answers (the playback server starts with the agent).
JSONValue describeScreen(const std::vector<std::string>& args) {
  JSONValue list;
  qvtest::waitUntil(
      [&] {
        list = qvtest::qvctlReply(args);
        return list.is_array() && !list.empty() && list[0].contains("elementID");
      },
      std::chrono::seconds(20));
  return list;
}

void expectAgentStarted(qvtest::AppProcess& app) {
  ASSERT_TRUE(app.ready());
  // Another application's agent on the same ports would answer instead.
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                std::chrono::seconds(10)))
      << "the agent's playback server did not start (port 9898 taken by another process?)";
}

TEST(AiExportE2ETest, DescribesTheLoginScreenAndWritesItsSnapshot) {
  qvtest::AppProcess app(appAtScale3());
  expectAgentStarted(app);

  // Without --images every element is listed, none with its image.
  JSONValue all = describeScreen({"ai-find"});
  ASSERT_TRUE(entryOf(all, "UIButton", "Log In")) << all.dump();
  ASSERT_TRUE(entryOf(all, "UITextField", "User name")) << all.dump();
  for (const auto& entry : all) EXPECT_FALSE(entry.contains("imageBase64")) << entry.dump();

  // The buttons with their images.
  JSONValue buttons = describeScreen({"--images", "ai-find", "UIButton"});
  for (const auto& entry : buttons) EXPECT_EQ(entry.value("elementType", ""), "UIButton");
  auto login = entryOf(buttons, "UIButton", "Log In");
  ASSERT_TRUE(login) << buttons.dump();
  EXPECT_EQ((*login)["isProbablyTappable"], "true");
  EXPECT_EQ((*login)["isVisibleInWindowFrame"], "true");
  EXPECT_EQ((*login)["isEditable"], "false");
  EXPECT_EQ((*login)["isScrollable"], "false");

  // Its rectangle is where the device's screen shows it.
  auto tree = qvtest::LineClient(app.port()).tree();
  ASSERT_TRUE(tree && !tree->empty());
  auto shown = treeRect(*tree, "UIButton", "text=\"Log In\"");
  ASSERT_TRUE(shown);
  EXPECT_EQ((*login)["rectangle"], JSONValue({{"x", twoDecimals(shown->x)},
                                              {"y", twoDecimals(shown->y)},
                                              {"width", twoDecimals(shown->width)},
                                              {"height", twoDecimals(shown->height)}}));

  // Its image is a JPEG of its size at the screen's scale.
  auto imageData = foundation::base64Decode((*login)["imageBase64"].get<std::string>());
  ASSERT_TRUE(imageData);
  auto image = decodeJPEG(std::string(imageData->begin(), imageData->end()));
  ASSERT_TRUE(image) << "the button's image is not a decodable JPEG";
  EXPECT_EQ(image->width, static_cast<int>(shown->width * kScale));
  EXPECT_EQ(image->height, static_cast<int>(shown->height * kScale));

  // The returned ID addresses the button.
  EXPECT_EQ(qvtest::qvctlReply({"gettext", (*login)["elementID"].get<std::string>()}),
            JSONValue::array({{{"output", "Log In"}}}));

  // The snapshot: the key window at the screen's scale.
  auto window = treeRect(*tree, "UIWindow", "");
  ASSERT_TRUE(window);
  const auto file = std::filesystem::temp_directory_path() / ("qv-snapshot-" + std::to_string(::getpid()) + ".jpg");
  qvtest::QvctlRun snapshot;
  ASSERT_TRUE(qvtest::waitUntil(
      [&] {
        snapshot = qvtest::runQvctl({"snapshot", file.string()});
        return snapshot.status == 0;
      },
      std::chrono::seconds(10)))
      << snapshot.err;
  std::ifstream in(file, std::ios::binary);
  auto screen = decodeJPEG(std::string(std::istreambuf_iterator<char>(in), {}));
  std::filesystem::remove(file);
  ASSERT_TRUE(screen) << "the snapshot is not a decodable JPEG";
  EXPECT_EQ(screen->width, static_cast<int>(window->width * kScale));
  EXPECT_EQ(screen->height, static_cast<int>(window->height * kScale));
  EXPECT_TRUE(app.alive());
}

// Typing and clicking through the IDs that "ai_findelements" returned.
TEST(AiExportE2ETest, LogsInThroughTheReturnedElementIDs) {
  qvtest::AppProcess app(appAtScale3());
  expectAgentStarted(app);

  JSONValue all = describeScreen({"ai-find"});
  auto user = entryOf(all, "UITextField", "User name");
  auto password = entryOf(all, "UITextField", "Password");
  auto login = entryOf(all, "UIButton", "Log In");
  ASSERT_TRUE(user && password && login) << all.dump();
  EXPECT_EQ((*user)["isEditable"], "true");

  auto idOf = [](const JSONValue& entry) { return entry["elementID"].get<std::string>(); };
  EXPECT_EQ(qvtest::qvctlReply({"type", idOf(*user), "alice"}), JSONValue::array());
  EXPECT_EQ(qvtest::qvctlReply({"type", idOf(*password), "secret"}), JSONValue::array());
  EXPECT_EQ(qvtest::qvctlReply({"click", idOf(*login)}), JSONValue::array());

  qvtest::LineClient screen(app.port());
  std::string outcome;
  EXPECT_TRUE(qvtest::waitUntil(
      [&] {
        auto tree = screen.tree();
        if (!tree) return false;
        for (const auto& line : *tree) {
          if (line.find("id=\"outcomeLabel\"") != std::string::npos) outcome = line;
        }
        return outcome.find("text=\"Welcome, alice\"") != std::string::npos;
      },
      std::chrono::seconds(10)))
      << outcome;
  EXPECT_TRUE(app.alive());
}

}  // namespace
