// The key window and the visible-view list: the key window's views in the pre-order
// of the playback walk that are visible in the window frame, optionally of one
// class. Used by playback (UIViewFinder), the step builder's class index and the web
// content bridge, so it lives here, below all of them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIView;
class UIWindow;

namespace VisibleViewList {

// The application's key window; logs "Window Not Found" and answers nullptr when
// there is none.
std::shared_ptr<UIWindow> getCurrentWindow();

// The visible-view list for `tag`: the views whose class name, lower-cased, equals
// the lower-cased tag, or every visible view for the empty tag; nothing for an
// absent tag. The playback walk runs in every case (it gives new views their GUIDs).
// Visibility is the frame-and-clipping test alone: hidden flags are not consulted.
std::vector<std::shared_ptr<UIView>> getAllUIViewsAccordingToViewType(const std::optional<std::string>& tag);

}  // namespace VisibleViewList
