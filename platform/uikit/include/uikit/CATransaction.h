// Layer transactions. Views and layers here keep no separate presentation state:
// every property change is visible to the next rendering at once, so there is no
// layer tree to commit. What can still be pending is layout (setNeedsLayout), and
// flush does that.
#pragma once

class CATransaction {
 public:
  // Commits pending changes: on the main thread, lays out the marked views of
  // every visible window; on any other thread it does nothing (layout belongs to
  // the main thread, and property changes need no commit).
  static void flush();
};
