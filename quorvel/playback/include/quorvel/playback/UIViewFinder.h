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
  // entry for a query, one {"rectangle": ...} entry for "getrect" (the element's
  // rectangle in window coordinates, as the AI export writes it) and for
  // "getwindowrect" (the key window's), {"output": text or null} for "getattribute"
  // (the data value names "label", "identifier" or "class"), {"output": "true"} once
  // "touchpath" has put a finger down along the data value's points ([[x, y, ms],
  // ...] in window coordinates; one point taps) or "typekeys" has typed the data
  // value into the view with the keyboard focus ("false" when it could not), the AI list for
  // "ai_findelements", nothing for an unknown
  // word or an unknown element ID. Platform exceptions leave it (the playback
  // handler answers them).
  // "clickelement" and "sendkeysonelement" highlight the element, act, then hold the
  // calling (main) thread for kActionSettleMicroseconds before putting the element's
  // border back, even when the element ID is unknown.
  JSONValue parseFunctionCallObject(const std::shared_ptr<FunctionCallObject>& call);
  static constexpr unsigned kActionSettleMicroseconds = 500000;

  // Scrolling views ("swipeto", "swipereset"). Each of three tests that holds scrolls
  // the view once more, from the offset it has at that moment: its class name
  // contains "scrollview" (any case), it is a UICollectionView, it is a UITableView.
  // Scrolling is animated and not waited for; the horizontal offset becomes 0.
  // Moves the vertical offset by `distance` (no bounds check).
  void swipeBy(const std::shared_ptr<UIView>& view, float distance);
  // Back to the origin; `distance` is not used.
  void swipeReset(const std::shared_ptr<UIView>& view, float distance);
  // The "swipeon" drag across a view (nullptr: nothing): for the direction "left",
  // "right", "up" or "down" (any case) from one quarter line of its bounds to the
  // opposite one through the middle, e.g. "left" from (3w/4, h/2) to (w/4, h/2); any
  // other direction, or none, a drag that stays at (0, 0).
  void swipeOn(const std::shared_ptr<UIView>& target, const std::optional<std::string>& direction);

  // The application's key window; logs "Window Not Found" when there is none.
  std::shared_ptr<UIWindow> getCurrentWindow();
  // The key window's views that are visible in the window frame, in walk order,
  // of the class named by `tag` (case-insensitively) or of any class for "".
  std::vector<std::shared_ptr<UIView>> getAllUIViewsAccordingToViewType(const std::optional<std::string>& tag);
};
