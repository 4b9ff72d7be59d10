// Take Screenshot, Take Element Screenshot and Get Page Source through the agent's
// screen export, and the window commands: the application has one native window,
// the screen, held upright.
#include <cmath>

#include "AgentQueries.h"
#include "qvctl/AiExport.h"
#include "qvdriver/Errors.h"
#include "qvdriver/PageSource.h"
#include "qvdriver/PngImage.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

// The handle of the one window, as Appium-style clients know it.
constexpr const char* kWindowHandle = "NATIVE_APP";

std::string screenJPEG(Session& session) {
  qvctl::Request request;
  request.functionname = "ai_getscreensnapshot";
  try {
    return qvctl::snapshotJPEG(session.play(request).dump());
  } catch (const qvctl::Error& e) {
    throw DriverError(ErrorCode::unknownError, std::string("no screenshot: ") + e.what());
  }
}

json screenshot(CommandContext& context) { return qvctl::encodeBase64(pngFromJPEG(screenJPEG(*context.session))); }

// The element's pixels at the screen's scale: its rectangle in points times the
// image's pixels per point.
json elementScreenshot(CommandContext& context) {
  const ElementRect element = elementRect(*context.session, context.element());
  const ElementRect window = windowRect(*context.session);
  if (window.width <= 0) throw DriverError(ErrorCode::unknownError, "the window has no width");
  const std::string jpeg = screenJPEG(*context.session);
  return qvctl::encodeBase64(pngFromJPEG(jpeg, [&](int width, int) {
    const double scale = width / window.width;
    return PixelRect{static_cast<int>(std::lround((element.x - window.x) * scale)),
                     static_cast<int>(std::lround((element.y - window.y) * scale)),
                     static_cast<int>(std::lround(element.width * scale)),
                     static_cast<int>(std::lround(element.height * scale))};
  }));
}

json pageSource(CommandContext& context) {
  qvctl::Request request;
  request.functionname = "ai_findelements";
  request.tagname = "";
  // The export clears the agent's element cache and enters its own IDs: those of
  // the last find are gone.
  context.session->forgetElements();
  return pageSourceXML(context.session->play(request));
}

json windowRectangle(CommandContext& context) {
  const ElementRect r = windowRect(*context.session);
  return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

json windowSize(CommandContext& context) {
  const ElementRect r = windowRect(*context.session);
  return {{"width", r.width}, {"height", r.height}};
}

}  // namespace

std::vector<Route> screenCommands() {
  return {
      {"GET", "/session/:sessionId/screenshot", screenshot},
      {"GET", "/session/:sessionId/element/:elementId/screenshot", elementScreenshot},
      {"GET", "/session/:sessionId/source", pageSource},
      {"GET", "/session/:sessionId/window/rect", windowRectangle},
      {"GET", "/session/:sessionId/window/size", windowSize},
      {"GET", "/session/:sessionId/window/current/size", windowSize},
      {"GET", "/session/:sessionId/window", [](CommandContext&) -> json { return kWindowHandle; }},
      {"GET", "/session/:sessionId/window/handles", [](CommandContext&) -> json { return json::array({kWindowHandle}); }},
      {"GET", "/session/:sessionId/orientation", [](CommandContext&) -> json { return "PORTRAIT"; }},
  };
}

}  // namespace qvdriver
