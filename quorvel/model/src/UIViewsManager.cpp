#include "quorvel/model/UIViewsManager.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/util/Utilities.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(UIViewsManager, objc::Object)

namespace {

using UIView_ToolkitAdditions::TK_WindowFrameAncestor;

// One level of the walk: a parent and its subviews as the walk found them when it
// entered the level, with what its views may ask, worked out on first demand. The
// views are held by plain pointer: the walk's hierarchy reading keeps them alive.
struct Level {
  UIView* parent;
  std::vector<UIView*> children;
  std::size_t next = 0;
  std::vector<long> sameClassIndexes;
  std::optional<std::string> parentXpath;
  std::shared_ptr<const TK_WindowFrameAncestor> ancestors;  // the parent and above

  long sameClassIndexAt(std::size_t position) {
    if (sameClassIndexes.empty()) {
      // Class names are compared by their text: two classes may share a name.
      std::unordered_map<std::string_view, long> seen;
      sameClassIndexes.reserve(children.size());
      for (const UIView* child : children) sameClassIndexes.push_back(seen[child->className()]++);
    }
    return sameClassIndexes[position];
  }
};

class Step final : public UIViewsManager::WalkStep {
 public:
  Step(std::vector<Level>& stack, std::size_t depth, std::size_t position)
      : stack_(stack), depth_(depth), position_(position) {}

  long sameClassIndex() const override { return stack_[depth_].sameClassIndexAt(position_); }
  std::string_view parentXpath() const override {
    Level& level = stack_[depth_];
    if (!level.parentXpath) {
      level.parentXpath =
          XpathManager::sharedInstance()->getPositionXpathOfUIView(level.parent->self<UIView>()).value_or("");
    }
    return *level.parentXpath;
  }
  bool isVisibleInWindowFrame() const override {
    return ancestorsAt(depth_)->isSubviewVisibleInWindowFrame(*stack_[depth_].children[position_]);
  }

 private:
  // The levels above are complete while a visitor runs: each level's chain is made
  // from the one above it, once.
  const std::shared_ptr<const TK_WindowFrameAncestor>& ancestorsAt(std::size_t depth) const {
    Level& level = stack_[depth];
    if (!level.ancestors) {
      level.ancestors = depth == 0 ? TK_WindowFrameAncestor::chainOf(*level.parent)
                                   : TK_WindowFrameAncestor::below(ancestorsAt(depth - 1), *level.parent);
    }
    return level.ancestors;
  }

  std::vector<Level>& stack_;
  std::size_t depth_;
  std::size_t position_;
};

}  // namespace

void UIViewsManager::walkSubviewsInPreOrder(const std::shared_ptr<UIView>& root, const Visitor& visit) {
  if (!root) return;
  // A walk on another thread than the main thread writes no reference count of the
  // views it meets; the main thread writes them whenever it hands a view out.
  const UIView::HierarchyReading reading;
  std::vector<Level> stack;
  stack.push_back({root.get(), {}, 0, {}, std::nullopt, nullptr});
  root->appendSubviews(reading, stack.back().children);
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.size()) {
      stack.pop_back();
      continue;
    }
    const std::size_t position = level.next++;
    UIView& view = *level.children[position];
    // The level stays in place while the visitor runs: nothing is pushed before it returns.
    if (!visit(*level.parent, view, Step(stack, stack.size() - 1, position))) continue;
    std::vector<UIView*> children;
    view.appendSubviews(reading, children);
    if (!children.empty()) stack.push_back({&view, std::move(children), 0, {}, std::nullopt, nullptr});
  }
}

const UIViewsManager::Keep& UIViewsManager::keepNone() {
  static const auto& none = *new Keep([](UIView&, const WalkStep&) { return false; });
  return none;
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViews(const std::shared_ptr<UIView>& root, bool start) {
  return GetAllViews(root, start, nullptr);
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViews(const std::shared_ptr<UIView>& root, bool start,
                                                            const Keep& keep) {
  if (start) views_.clear();
  walkSubviewsInPreOrder(root, [this, &keep](UIView& parent, UIView& view, const WalkStep& step) {
    if (view.isHidden()) return false;
    if (view.isKindOfClass(UITextField::classObject()) && view.isFirstResponder()) {
      GlobalVars::sharedInstance()->set_editAbleElement(view.self<UIView>());
    }
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kRecordingGUIDKey, &step);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    if (!keep || keep(view, step)) views_.push_back(view.self<UIView>());
    return true;
  });
  return views_;
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViewsForPlayer(const std::shared_ptr<UIView>& root, bool start) {
  return GetAllViewsForPlayer(root, start, nullptr);
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViewsForPlayer(const std::shared_ptr<UIView>& root,
                                                                     bool start, const Keep& keep) {
  if (start) views_.clear();
  walkSubviewsInPreOrder(root, [this, &keep](UIView& parent, UIView& view, const WalkStep& step) {
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kPlaybackGUIDKey, &step);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    if (!keep || keep(view, step)) views_.push_back(view.self<UIView>());
    return true;
  });
  return views_;
}
