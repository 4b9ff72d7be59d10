// Views: a rectangle in its superview's coordinates (frame, derived from center and
// bounds size), its own coordinate space (bounds; a bounds origin other than zero
// scrolls the content), subviews back to front, hit testing, coordinate conversion
// and the layer that carries border and free attributes.
//
// Threads: every read accessor is safe from any thread (it copies under the view's
// lock; subviews() returns a snapshot). Mutation belongs to the main thread, which
// therefore reads without the lock. A view never holds its lock while calling into
// another view.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/dispatch.h"
#include "objc/runtime.h"
#include "uikit/CALayer.h"
#include "uikit/CGGeometry.h"
#include "uikit/UIAccessibility.h"
#include "uikit/UIColor.h"
#include "uikit/UIResponder.h"

class UIWindow;
class UIEvent;
class UIGestureRecognizer;
class UIViewController;

class UIView : public UIResponder, public UIAccessibility {
  QV_OBJC_DECLARE_CLASS(UIView)
 public:
  explicit UIView(CGRect frame = CGRectZero);
  ~UIView() override;

  // Geometry. frame = (center - bounds.size / 2, bounds.size) in the superview's
  // coordinates; setting it keeps the bounds origin.
  CGRect frame() const;
  void setFrame(CGRect frame);
  CGRect bounds() const;
  void setBounds(CGRect bounds);
  CGPoint center() const;
  void setCenter(CGPoint center);

  // Hierarchy.
  std::shared_ptr<UIView> superview() const;
  std::vector<std::shared_ptr<UIView>> subviews() const;  // back to front, a snapshot

  // A reading of view hierarchies without references. While one is open on any
  // thread, a view taken from its superview stays alive until the last open reading
  // ends, so a reader may hold the views it met by plain pointer: a view it reached
  // was owned by its superview then, and is owned still or kept. A reader on
  // another thread thereby writes no view's reference count, which the main thread
  // writes whenever it hands a view out, as every hit test does. Readings are
  // meant to be short (one walk); views taken away meanwhile are released when the
  // last one ends, on that thread.
  class HierarchyReading {
   public:
    HierarchyReading();
    ~HierarchyReading();
    HierarchyReading(const HierarchyReading&) = delete;
    HierarchyReading& operator=(const HierarchyReading&) = delete;
  };
  // Appends the subviews, back to front, as plain pointers valid while `reading` is
  // open.
  void appendSubviews(const HierarchyReading& reading, std::vector<UIView*>& out) const;
  // The window at the top of this view's superview chain (the view itself when it
  // is a window), or nullptr.
  std::shared_ptr<UIWindow> window() const;
  // Adds `view` on top of the subviews, taking it from its previous superview.
  // Adding a view to itself or to one of its descendants is ignored.
  void addSubview(const std::shared_ptr<UIView>& view);
  void insertSubviewAtIndex(const std::shared_ptr<UIView>& view, long index);  // index clamped
  void insertSubviewAboveSubview(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling);
  void insertSubviewBelowSubview(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const std::shared_ptr<UIView>& view);
  void sendSubviewToBack(const std::shared_ptr<UIView>& view);
  // True when `view` is this view or one of its ancestors.
  bool isDescendantOfView(const std::shared_ptr<UIView>& view) const;
  std::shared_ptr<UIView> viewWithTag(long tag);  // this view or a descendant, pre-order

  // Appearance and interaction.
  bool isHidden() const;
  virtual void setHidden(bool hidden);
  CGFloat alpha() const;
  void setAlpha(CGFloat alpha);
  bool clipsToBounds() const;
  void setClipsToBounds(bool clips);
  bool isUserInteractionEnabled() const;
  void setUserInteractionEnabled(bool enabled);
  bool isOpaque() const;
  void setOpaque(bool opaque);
  std::shared_ptr<UIColor> backgroundColor() const;  // also the layer's background
  void setBackgroundColor(const std::shared_ptr<UIColor>& color);
  std::shared_ptr<UIColor> tintColor() const;  // inherited from the superview; system blue at the top
  void setTintColor(const std::shared_ptr<UIColor>& color);
  long tag() const;
  void setTag(long tag);
  std::shared_ptr<CALayer> layer() const;
  // The layer without a new reference to it: it lives as long as the view.
  CALayer& _layerRef() const { return *layer_; }

  // Gesture recognisers, in the order they were added.
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers() const;
  void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  // Asked (on the view a touch began on) before a recogniser of this view or an
  // ancestor starts recognising that touch.
  virtual bool gestureRecognizerShouldBegin(const std::shared_ptr<UIGestureRecognizer>& recognizer);

  // Coordinate conversion between any two views; a nullptr view means this view's
  // window coordinates. Views in different windows convert through the screen.
  CGPoint convertPointToView(CGPoint point, const std::shared_ptr<UIView>& view) const;
  CGPoint convertPointFromView(CGPoint point, const std::shared_ptr<UIView>& view) const;
  CGRect convertRectToView(CGRect rect, const std::shared_ptr<UIView>& view) const;
  CGRect convertRectFromView(CGRect rect, const std::shared_ptr<UIView>& view) const;

  // Hit testing. A hidden view, one with user interaction off or alpha below 0.01,
  // and a point outside pointInside answer nullptr; otherwise the front-most
  // subview's answer, else this view.
  virtual std::shared_ptr<UIView> hitTest(CGPoint point, const std::shared_ptr<UIEvent>& event);
  virtual bool pointInside(CGPoint point, const std::shared_ptr<UIEvent>& event);

  // Layout. setNeedsLayout marks the view; the marked views of visible windows are
  // laid out on the main queue's next turn, or at once by layoutIfNeeded (which
  // lays out this view and its subtree).
  void setNeedsLayout();
  bool needsLayout() const;
  void layoutIfNeeded();
  virtual void layoutSubviews();
  virtual CGSize sizeThatFits(CGSize size);  // current bounds size by default
  void sizeToFit();
  virtual CGSize intrinsicContentSize();  // (-1, -1): none

  // Hooks.
  virtual void didAddSubview(const std::shared_ptr<UIView>& subview);
  virtual void willRemoveSubview(const std::shared_ptr<UIView>& subview);
  virtual void didMoveToSuperview();
  virtual void didMoveToWindow();

  // The view controller whose root view this is; then the superview.
  std::shared_ptr<UIResponder> nextResponder() const override;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool isFirstResponder() const override;

  std::string description() const override;  // "<Class: 0x...; frame = (x y; w h)>"

  // Renders this view and its subviews into the current image context (defined by
  // the rendering part of the platform).
  bool drawViewHierarchyInRect(CGRect rect, bool afterScreenUpdates);
  // Draws the view's own content into the current context (UIGraphicsGetCurrentContext)
  // in bounds coordinates, after its background and before its subviews. Nothing by
  // default. Rendering may run on any thread: read only through thread-safe accessors.
  virtual void drawRect(CGRect rect);

  // Platform internals.
  std::shared_ptr<UIViewController> _viewController() const;
  void _setViewController(const std::weak_ptr<UIViewController>& controller);
  void _layoutSubtreeIfNeeded();  // layoutIfNeeded of every view below, top-down

 protected:
  // Called after the bounds (size or origin) changed through any setter.
  virtual void boundsDidChange(CGRect oldBounds, CGRect newBounds);
  // Sets the hidden flag alone (no subclass behaviour), for constructors.
  void setHiddenFlag(bool hidden);
  // This view as a shared pointer (nullptr while it is being constructed).
  std::shared_ptr<UIView> selfView() const;

  // Guards the members of this view and its subclasses. On a line of its own: a
  // walk on another thread writes it for every view it reads, and the main
  // thread's reads of the members beside it would otherwise miss their cache.
  alignas(64) mutable std::mutex mutex_;

  // Held while reading members: the view's lock on every thread but the main
  // thread, nothing on the main thread. Only the main thread mutates a view, so its
  // own reads never meet a write; they need not wait for a walk of the hierarchy on
  // another thread, nor contend with it for the lock.
  class ReadLock {
   public:
    explicit ReadLock(std::mutex& mutex) : mutex_(dispatch_is_main_thread() ? nullptr : &mutex) {
      if (mutex_) mutex_->lock();
    }
    ~ReadLock() {
      if (mutex_) mutex_->unlock();
    }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

   private:
    std::mutex* mutex_;
  };

 private:
  void insertSubviewInternal(const std::shared_ptr<UIView>& view, long index);
  // Inserts below (offset 0) or above (offset 1) a sibling; at the top when the
  // sibling is not a subview.
  void insertSubviewNextTo(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling, long offset);
  void detachFromSuperview(bool notify);
  static void notifyWindowChange(const std::shared_ptr<UIView>& root);
  // The point in the coordinates of the topmost ancestor; sets *root to it.
  CGPoint pointToRoot(CGPoint point, std::shared_ptr<const UIView>* root) const;
  CGPoint pointFromRoot(CGPoint point) const;

  alignas(64) CGPoint center_;
  CGRect bounds_;
  std::weak_ptr<UIView> superview_;
  std::vector<std::shared_ptr<UIView>> subviews_;
  bool hidden_ = false;
  CGFloat alpha_ = 1.0;
  bool clipsToBounds_ = false;
  bool userInteractionEnabled_ = true;
  bool opaque_ = true;
  bool needsLayout_ = true;
  std::shared_ptr<UIColor> backgroundColor_;
  std::shared_ptr<UIColor> tintColor_;
  long tag_ = 0;
  std::shared_ptr<CALayer> layer_;
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers_;
  std::weak_ptr<UIViewController> viewController_;
  mutable std::atomic<bool> layerDelegateSet_{false};
};
