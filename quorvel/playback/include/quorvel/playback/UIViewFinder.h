// Runs playback commands against the live view hierarchy (the native interpreter)
// and, through the page scripts, against the displayed web page (the web variant).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/json.h"
#include "objc/runtime.h"
#include "quorvel/util/FunctionCallObject.h"

class UIViewFinder : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIViewFinder)
 public:
  // The web variant: the page's answer as a text, or absent when there is none.
  std::optional<std::string> parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>& call);
  // The native interpreter: the reply list (a JSON array, possibly empty; never absent).
  JSONValue parseFunctionCallObject(const std::shared_ptr<FunctionCallObject>& call);
};
