// Take Screenshot and Get Page Source, through the agent's screen export.
#include "qvctl/AiExport.h"
#include "qvdriver/Errors.h"
#include "qvdriver/PageSource.h"
#include "qvdriver/PngImage.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

nlohmann::json screenshot(CommandContext& context) {
  qvctl::Request request;
  request.functionname = "ai_getscreensnapshot";
  std::string jpeg;
  try {
    jpeg = qvctl::snapshotJPEG(context.session->play(request).dump());
  } catch (const qvctl::Error& e) {
    throw DriverError(ErrorCode::unknownError, std::string("no screenshot: ") + e.what());
  }
  return qvctl::encodeBase64(pngFromJPEG(jpeg));
}

nlohmann::json pageSource(CommandContext& context) {
  qvctl::Request request;
  request.functionname = "ai_findelements";
  request.tagname = "";
  // The export clears the agent's element cache and enters its own IDs: those of
  // the last find are gone.
  context.session->forgetElements();
  return pageSourceXML(context.session->play(request));
}

}  // namespace

std::vector<Route> screenCommands() {
  return {
      {"GET", "/session/:sessionId/screenshot", screenshot},
      {"GET", "/session/:sessionId/source", pageSource},
  };
}

}  // namespace qvdriver
