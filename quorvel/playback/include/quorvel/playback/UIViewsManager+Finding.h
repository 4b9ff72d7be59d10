// The element search of playback, an extension of UIViewsManager: searches the
// hierarchy below a root with a matching rule chosen by the accessor type and puts
// every match into the element cache under a fresh element ID.
//
// Matching rules (the accessor type already lower-cased by the caller); a view
// must first be visible in the window frame (hidden flags are not consulted):
//   "text"         the view's recording text equals the value exactly
//   "partialtext"  the lower-cased text contains the lower-cased value; an empty
//                  value matches nothing
//   ""             any view
//   "xpath"        the GUID registered for the xpath is the view's playback GUID
//   "accessibilityid"  the view's accessibility identifier equals the value
//                  exactly; an empty value matches nothing
//   anything else, or no accessor type: nothing
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "quorvel/model/UIViewsManager.h"

class UIView;

namespace UIViewsManager_Finding {

using Text = std::optional<std::string>;

// Searches every view below `root` (hidden or not, at any depth): gives it a
// playback GUID as the playback walk does, and when the lower-cased tag is empty
// or equals its lower-cased class name, tests it with the matching rule. An absent
// tag tests no view.
void findElements(UIViewsManager& manager, const std::shared_ptr<UIView>& root, const Text& tag,
                  const Text& accessorType, const Text& accessorValue);

// Tests one view with the matching rule and caches it when it matches; the tag is
// not consulted. Returns whether it matched.
bool identifyElementByAccessor(UIViewsManager& manager, const std::shared_ptr<UIView>& view, const Text& tag,
                               const Text& accessorType, const Text& accessorValue);

}  // namespace UIViewsManager_Finding
