// The two inventory walks over a view hierarchy. Each walk lists the views below
// its root in pre-order (a view before its descendants, siblings back to front;
// the root itself is not listed) and gives every view it meets without one its
// GUID, registering the view's xpath under it before the view's subviews are
// visited. A walk also clears a highlight marking that was left on a view.
//
// A manager is created per use. Walks of different managers may run on different
// threads at once; the views are only read through their thread-safe accessors.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "objc/runtime.h"

class UIView;

class UIViewsManager : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIViewsManager)
 public:
  using ViewList = std::vector<std::shared_ptr<UIView>>;

  // The recording walk: hidden views are skipped with their whole subtree; a
  // first-responder text field becomes the agent's editable element; GUIDs go
  // under "ZarvoUIVIewGuid". `start` begins a new list; otherwise the views are
  // appended to this manager's current list. Returns the list, valid until the
  // manager's next walk or its end (a caller that keeps it copies it; one that only
  // wants the GUIDs given copies nothing).
  const ViewList& GetAllViews(const std::shared_ptr<UIView>& root, bool start);
  // The playback walk: every view, hidden or not; GUIDs go under
  // "ZarvoUIVIewGuid_PlayBack". Same list conventions.
  const ViewList& GetAllViewsForPlayer(const std::shared_ptr<UIView>& root, bool start);

  class WalkStep;
  // The walks listing only the views that `keep` accepts (it may ask the walk's
  // step about the view); every view is still walked and given its GUID. With
  // keepNone() a walk only gives GUIDs and builds no list.
  using Keep = std::function<bool(UIView& view, const WalkStep& step)>;
  const ViewList& GetAllViews(const std::shared_ptr<UIView>& root, bool start, const Keep& keep);
  const ViewList& GetAllViewsForPlayer(const std::shared_ptr<UIView>& root, bool start, const Keep& keep);
  static const Keep& keepNone();

  // The traversal the walks and the element search share: visits every view below
  // `root` in pre-order with its parent; `visit` answers whether to go below the
  // view. Iterative, so a deep hierarchy cannot exhaust the thread's stack.
  //
  // The views are given by reference, not owned: the walk takes no reference to
  // any view below the root (see UIView::HierarchyReading), so that a walk on
  // another thread does not write the reference counts the main thread writes. A
  // visitor that keeps a view takes its own reference (`view.self<UIView>()`).
  //
  // What a visitor may ask about the view it is given (`step`), each worked out for
  // a whole level or chain of ancestors at once, the first time a view asks:
  //   - sameClassIndex(): the view's index among the same-class views of its level
  //     (as XpathManager::sameClassIndexOf counts it, over the level as the walk
  //     found it), so giving GUIDs to every view of a flat screen costs one pass per
  //     level, not one per view;
  //   - parentXpath(): the xpath registered for the view's parent (XpathManager::
  //     getPositionXpathOfUIView, empty when it has none), looked up once per level;
  //     valid until the visitor returns;
  //   - isVisibleInWindowFrame(): the toolkit's query of that name, with what it
  //     reads of the ancestors read once per ancestor, not once per view.
  class WalkStep {
   public:
    virtual long sameClassIndex() const = 0;
    virtual std::string_view parentXpath() const = 0;
    virtual bool isVisibleInWindowFrame() const = 0;

   protected:
    ~WalkStep() = default;
  };
  using Visitor = std::function<bool(UIView& parent, UIView& view, const WalkStep& step)>;
  static void walkSubviewsInPreOrder(const std::shared_ptr<UIView>& root, const Visitor& visit);

 private:
  ViewList views_;
};
