// Highlighting: the timed border marking of a view. The layer's border accessors are
// safe from any thread, so the marking may be set from any thread (the inventory walk
// de-highlights from its background thread) and the delayed restores are applied on
// a background queue, never waiting on the main thread.
#include "dispatch/dispatch.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/CALayer.h"
#include "uikit/UIView.h"

namespace UIView_ToolkitAdditions {

namespace {

// One serial queue for every restore, so that restores due in the order of their
// calls are applied in that order.
const dispatch_queue_t& restoreQueue() {
  static const dispatch_queue_t* queue =
      new dispatch_queue_t(dispatch_queue_create("UIView.ToolkitAdditions.borderRestore", DISPATCH_QUEUE_SERIAL));
  return *queue;
}

void setBorder(const std::shared_ptr<CALayer>& layer, CGFloat width, const CGColorRef& color) {
  layer->setBorderWidth(width);
  layer->setBorderColor(color);
}

// Sets the border again after the restore delay. The restore keeps the view alive
// and holds its own reference to the colour until it has run.
void setBorderLater(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color) {
  auto delay = static_cast<std::int64_t>(TK_borderRestoreDelay * NSEC_PER_SEC);
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), restoreQueue(), [view, width, color] {
    if (auto layer = view->layer()) setBorder(layer, width, color);
  });
}

}  // namespace

CGColorRef TK_highlightBorderColor() { return UIColor::colorWithRed(0.0, 1.0, 0.0, 1.0)->CGColor(); }

bool TK_hasHighlightBorder(const std::shared_ptr<UIView>& view) {
  auto layer = view ? view->layer() : nullptr;
  if (!layer) return false;
  return layer->borderWidth() == TK_highlightBorderWidth &&
         CGColorEqualToColor(layer->borderColor(), TK_highlightBorderColor());
}

void highlightView(const std::shared_ptr<UIView>& view) {
  auto layer = view ? view->layer() : nullptr;
  if (!layer) return;
  CGFloat oldWidth = layer->borderWidth();
  CGColorRef oldColor = layer->borderColor();
  setBorder(layer, TK_highlightBorderWidth, TK_highlightBorderColor());
  setBorderLater(view, oldWidth, oldColor);
}

void deHighlightView(const std::shared_ptr<UIView>& view) {
  auto layer = view ? view->layer() : nullptr;
  if (!layer) return;
  CGFloat oldWidth = layer->borderWidth();
  CGColorRef oldColor = layer->borderColor();
  setBorder(layer, TK_deHighlightBorderWidth, layer->borderColor());
  setBorderLater(view, oldWidth, oldColor);
}

void deHighlightView(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color) {
  auto layer = view ? view->layer() : nullptr;
  if (!layer) return;
  setBorder(layer, width, color);
  setBorderLater(view, width, color);
}

}  // namespace UIView_ToolkitAdditions
