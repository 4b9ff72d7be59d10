// The touch screen and keyboard as the device's input system drives them: one
// finger whose touches are hit-tested and dispatched through the application, the
// keyboard's typing, the screen's picture and a text dump of the key window.
// Everything here runs on the main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/CGGeometry.h"

class UIImage;
class UIView;

namespace device_input {

// Each returns the answer line ("ok..." or "error: ...").
std::string fingerDown(CGPoint pointInKeyWindow);
std::string fingerMove(CGPoint pointInKeyWindow);
std::string fingerUp(CGPoint pointInKeyWindow);
// Lifts the finger at the point; when that cannot be (the point left the screen,
// the key window went away) the touch is cancelled instead. Never leaves it down.
std::string liftOrCancelFinger(CGPoint pointInKeyWindow);
std::string typeText(const std::string& text);

// The screen as shown (after pending layout).
std::shared_ptr<UIImage> screenImage();
// The key window's tree, one line per view; absent without a key window.
std::optional<std::vector<std::string>> keyWindowTree();
// One view's line without indentation (class, frame in window coordinates, hidden,
// text and identifier when present).
std::string describeView(const std::shared_ptr<UIView>& view);

}  // namespace device_input
