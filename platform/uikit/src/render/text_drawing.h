// Text drawing with Cairo in the DejaVu Sans face (its files through FreeType): one line truncated
// with an ellipsis, or words wrapped over several lines.
#pragma once

#include <cairo.h>

#include <string>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"
#include "uikit/UILabel.h"

namespace uikit_render {

struct TextStyle {
  CGFloat fontSize = 17;
  bool bold = false;
  CGColorRef color;
  NSTextAlignment alignment = NSTextAlignmentNatural;
  long numberOfLines = 1;      // 0: as many as fit
  bool centerVertically = true;  // else from the top of the box
};

// Draws `text` inside `box` (user-space points).
void drawText(cairo_t* cr, const std::string& text, CGRect box, const TextStyle& style);

// The advance width in points of `text` on one line, as drawText draws it. Safe
// from any thread.
CGFloat textWidth(const std::string& text, CGFloat fontSize, bool bold);

}  // namespace uikit_render
