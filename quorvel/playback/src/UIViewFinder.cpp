#include "quorvel/playback/UIViewFinder.h"

QV_OBJC_DEFINE_CLASS(UIViewFinder, objc::Object)

// Neither interpreter exists yet: every request is answered as one with nothing to report.
std::optional<std::string> UIViewFinder::parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>&) {
  return std::nullopt;
}

JSONValue UIViewFinder::parseFunctionCallObject(const std::shared_ptr<FunctionCallObject>&) {
  return JSONValue::array();
}
