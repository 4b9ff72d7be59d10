// Highlighting: the timed border marking of a view. The layer's border accessors are
// safe from any thread, so the marking may be set from any thread (the inventory walk
// de-highlights from its background thread) and the delayed restores are applied on
// a background queue, never waiting on the main thread.
#include <any>
#include <mutex>
#include <optional>

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

// What the toolkit knows about a view it highlighted: how many highlight restores
// are still to run, and the border the view had before the marking went on. The
// record is attached to the view itself, so it goes with the view: a view made
// later at the same address never inherits it, and freed views leave nothing
// behind. All records are read and changed under one lock.
struct HighlightRecord {
  int pendingRestores = 0;
  CGFloat originalWidth = 0;
  CGColorRef originalColor;
};

const char kHighlightRecordKey = 0;  // its address is the association key

std::mutex& recordsMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

// The view's record (made when `create` is set), or nullptr. Call with the lock held.
std::shared_ptr<HighlightRecord> recordOf(UIView& view, bool create) {
  std::any stored = view.associatedObject(&kHighlightRecordKey);
  if (auto* record = std::any_cast<std::shared_ptr<HighlightRecord>>(&stored)) return *record;
  if (!create) return nullptr;
  auto record = std::make_shared<HighlightRecord>();
  view.setAssociatedObject(&kHighlightRecordKey, record);
  return record;
}

void forgetRecord(UIView& view) { view.setAssociatedObject(&kHighlightRecordKey, std::any()); }

// Read in place, without a reference to the layer: walks on other threads ask this
// of every view they meet.
bool hasHighlightBorder(const CALayer& layer) {
  return layer.borderWidth() == TK_highlightBorderWidth &&
         CGColorEqualToColor(layer.borderColor(), TK_highlightBorderColor());
}

// Sets the border again after the restore delay. The restore keeps the view alive
// and holds its own reference to the colour until it has run.
void setBorderLater(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color,
                    bool highlightRestore = false) {
  auto delay = static_cast<std::int64_t>(TK_borderRestoreDelay * NSEC_PER_SEC);
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), restoreQueue(), [view, width, color, highlightRestore] {
    if (auto layer = view->layer()) setBorder(layer, width, color);
    if (!highlightRestore) return;
    std::lock_guard lock(recordsMutex());
    auto record = recordOf(*view, false);
    // Once no restore is pending and the marking is gone, nothing needs remembering.
    if (record && --record->pendingRestores == 0 && !TK_hasHighlightBorder(view)) forgetRecord(*view);
  });
}

}  // namespace

CGColorRef TK_highlightBorderColor() { return UIColor::colorWithRed(0.0, 1.0, 0.0, 1.0)->CGColor(); }

bool TK_hasHighlightBorder(const std::shared_ptr<UIView>& view) { return view && hasHighlightBorder(view->_layerRef()); }

void highlightView(const std::shared_ptr<UIView>& view) {
  auto layer = view ? view->layer() : nullptr;
  if (!layer) return;
  CGFloat oldWidth = layer->borderWidth();
  CGColorRef oldColor = layer->borderColor();
  {
    std::lock_guard lock(recordsMutex());
    auto record = recordOf(*view, true);
    if (record->pendingRestores == 0 && !TK_hasHighlightBorder(view)) {
      record->originalWidth = oldWidth;
      record->originalColor = oldColor;
    }
    ++record->pendingRestores;
  }
  setBorder(layer, TK_highlightBorderWidth, TK_highlightBorderColor());
  setBorderLater(view, oldWidth, oldColor, true);
}

bool TK_hasPendingHighlightRestore(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  std::lock_guard lock(recordsMutex());
  auto record = recordOf(*view, false);
  return record && record->pendingRestores > 0;
}

void TK_clearStaleHighlight(UIView& view) {
  if (!hasHighlightBorder(view._layerRef())) return;
  std::optional<std::pair<CGFloat, CGColorRef>> original;
  {
    std::lock_guard lock(recordsMutex());
    if (auto record = recordOf(view, false)) {
      if (record->pendingRestores > 0) return;  // the highlight will restore itself
      original = std::make_pair(record->originalWidth, record->originalColor);
      forgetRecord(view);
    }
  }
  const auto shared = view.self<UIView>();
  if (original) {
    deHighlightView(shared, original->first, original->second);
  } else {
    deHighlightView(shared);
  }
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
