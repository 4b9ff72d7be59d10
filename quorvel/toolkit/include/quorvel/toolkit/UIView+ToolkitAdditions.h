// The view extension of the toolkit: operations the agent performs on a live view,
// receiver first.
#pragma once

#include <memory>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

class UIView;

namespace UIView_ToolkitAdditions {

// The highlight marking: a 4.0-point opaque pure green border (red 0, green 1,
// blue 0, alpha 1). Borders are put back 1.0 second after they were changed.
inline constexpr CGFloat TK_highlightBorderWidth = 4.0;
inline constexpr CGFloat TK_deHighlightBorderWidth = 1.0;
inline constexpr double TK_borderRestoreDelay = 1.0;
// A new colour reference of the highlight colour.
CGColorRef TK_highlightBorderColor();
// True when the view's layer carries the highlight marking (the width and a colour
// equal in value to the highlight colour).
bool TK_hasHighlightBorder(const std::shared_ptr<UIView>& view);

// Draws the highlight marking, then puts back the border the view had (the width
// and colour read at this call) after 1 second. Overlapping calls restore in the
// order they were made, each to what it read: two calls less than a second apart
// leave the marking on for good.
void highlightView(const std::shared_ptr<UIView>& view);
// A 1-point border in the layer's current colour, put back after 1 second.
void deHighlightView(const std::shared_ptr<UIView>& view);
// Sets the given border now and sets it again after 1 second.
void deHighlightView(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color);

}  // namespace UIView_ToolkitAdditions
