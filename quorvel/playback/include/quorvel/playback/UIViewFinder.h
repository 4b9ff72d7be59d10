// Runs playback commands against the live view hierarchy (the native interpreter)
// and, through the page scripts, against the displayed web page (the web variant).
// Created per command; runs on the main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "objc/runtime.h"
#include "quorvel/util/FunctionCallObject.h"

class UIView;
class UIWindow;

class UIViewFinder : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIViewFinder)
 public:
  // The web variant: the page's answer as a text, or absent when there is none.
  std::optional<std::string> parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>& call);

  // The native interpreter. The command word (function name) and the accessor type
  // are compared lower-cased. Returns the reply list, a JSON array that is never
  // absent: {"elementID": ...} entries for the find commands, one {"output": ...}
  // entry for a query, nothing for an unknown word or an unknown element ID.
  // Platform exceptions leave it (the playback handler answers them); so does a
  // command whose operation this agent does not offer yet, with a reason saying so.
  JSONValue parseFunctionCallObject(const std::shared_ptr<FunctionCallObject>& call);

  // The application's key window; logs "Window Not Found" when there is none.
  std::shared_ptr<UIWindow> getCurrentWindow();
  // The key window's views that are visible in the window frame, in walk order,
  // of the class named by `tag` (case-insensitively) or of any class for "".
  std::vector<std::shared_ptr<UIView>> getAllUIViewsAccordingToViewType(const std::optional<std::string>& tag);
};
