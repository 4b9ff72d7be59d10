// The screen as an AI service sees it: every visible view described by its image,
// its rectangle in the window and yes/no traits, each entered in the element cache
// so that later element commands can address it; and an image of the key window.
// Created per command; runs on the main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/json.h"
#include "objc/runtime.h"

class UIView;

class AiAPI : public objc::Object {
  QV_OBJC_DECLARE_CLASS(AiAPI)
 public:
  // Empties the element cache, then describes every view of the visible-view list
  // for `tag` (case-insensitive class name, "" for any class, absent for none), in
  // list order. The cache then holds exactly the described views under their IDs.
  JSONValue getAllViewsInformation(const std::optional<std::string>& tag);

  // One view's description, all values strings except "rectangle":
  //   "elementID"  a fresh ID under which the view is entered in the element cache
  //   "text"       the playback text, or ""
  //   "elementType" the run-time class name
  //   "imageBase64" the view rendered as a Base64 JPEG, or "" when it has no pixels
  //   "childCount" the number of direct subviews
  //   "isProbablyTappable", "isVisibleInViewHierarchy", "isVisibleInWindowFrame",
  //   "isUserInteractionEnabled", "isHidden", "isEditable", "isScrollable",
  //   "isImageObject": "true" or "false"
  //   "rectangle"  see getRectObjectOfView
  JSONValue getViewProperty(const std::shared_ptr<UIView>& view);
  // The same description with "imageBase64" given instead of rendered: what the rest
  // of a description costs, apart from the image.
  JSONValue getViewPropertyWithImage(const std::shared_ptr<UIView>& view, std::string imageBase64);

  // The key window rendered as a Base64 JPEG; absent without a key window.
  std::optional<std::string> getBase64ImageOfCurrentWindow();

  // Whether the view or one of its ancestors is probably tappable. The topmost view
  // (normally the window) is never asked: a hit on it says nothing about the view.
  bool IsActuallyTappable(const std::shared_ptr<UIView>& view);
  // A scroll, table, collection or picker view, or a view whose class name says it
  // scrolls ("scrollview", "uicollectionview", or exactly "uipickercolumnview").
  bool isViewScrollable(const std::shared_ptr<UIView>& view);
  // An image or an image view.
  bool IsImageTypeOfObject(const objc::id& object);
  static std::string convertBooleanToString(bool value);
  // {"x", "y", "width", "height"} as "%.02f" texts: the frame's origin converted from
  // the superview into window coordinates, and the size of the bounds.
  JSONValue getRectObjectOfView(const std::shared_ptr<UIView>& view);

 private:
  // While one screen is described, whether each asked view or one of its ancestors
  // (short of the topmost view) is probably tappable: a view's own hit tests are
  // made at most once, and none below a view known to be tappable. Only the
  // screen's description fills it; it is empty otherwise.
  std::unordered_map<const UIView*, bool> chainTappable_;
  bool describingScreen_ = false;
};
