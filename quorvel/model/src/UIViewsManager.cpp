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

// One level of the walk: a parent and the snapshot of its subviews taken when the
// level was entered, with what its views may ask, worked out on first demand.
struct Level {
  std::shared_ptr<UIView> parent;
  std::vector<std::shared_ptr<UIView>> children;
  std::size_t next = 0;
  std::vector<long> sameClassIndexes;
  std::optional<std::string> parentXpath;
  std::shared_ptr<const TK_WindowFrameAncestor> ancestors;  // the parent and above

  long sameClassIndexAt(std::size_t position) {
    if (sameClassIndexes.empty()) {
      // Class names are compared by their text: two classes may share a name.
      std::unordered_map<std::string_view, long> seen;
      sameClassIndexes.reserve(children.size());
      for (const auto& child : children) sameClassIndexes.push_back(seen[child->className()]++);
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
      level.parentXpath = XpathManager::sharedInstance()->getPositionXpathOfUIView(level.parent).value_or("");
    }
    return *level.parentXpath;
  }
  bool isVisibleInWindowFrame() const override {
    const auto& ancestors = ancestorsAt(depth_);
    return ancestors && ancestors->isSubviewVisibleInWindowFrame(stack_[depth_].children[position_]);
  }

 private:
  // The levels above are complete while a visitor runs: each level's chain is made
  // from the one above it, once.
  const std::shared_ptr<const TK_WindowFrameAncestor>& ancestorsAt(std::size_t depth) const {
    Level& level = stack_[depth];
    if (!level.ancestors) {
      level.ancestors = depth == 0 ? TK_WindowFrameAncestor::chainOf(level.parent)
                                   : TK_WindowFrameAncestor::below(ancestorsAt(depth - 1), level.parent);
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
  std::vector<Level> stack;
  stack.push_back({root, root->subviews(), 0, {}, std::nullopt, nullptr});
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.size()) {
      stack.pop_back();
      continue;
    }
    const std::size_t position = level.next++;
    // Copies: the stack may grow once the visitor has returned.
    std::shared_ptr<UIView> view = level.children[position];
    std::shared_ptr<UIView> parent = level.parent;
    // The level stays in place while the visitor runs: nothing is pushed before it returns.
    if (!visit(parent, view, Step(stack, stack.size() - 1, position))) continue;
    auto children = view->subviews();
    if (!children.empty()) stack.push_back({std::move(view), std::move(children), 0, {}, std::nullopt, nullptr});
  }
}

const UIViewsManager::Keep& UIViewsManager::keepNone() {
  static const auto& none = *new Keep([](const std::shared_ptr<UIView>&, const WalkStep&) { return false; });
  return none;
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViews(const std::shared_ptr<UIView>& root, bool start) {
  return GetAllViews(root, start, nullptr);
}

const UIViewsManager::ViewList& UIViewsManager::GetAllViews(const std::shared_ptr<UIView>& root, bool start,
                                                            const Keep& keep) {
  if (start) views_.clear();
  walkSubviewsInPreOrder(root, [this, &keep](const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                             const WalkStep& step) {
    if (view->isHidden()) return false;
    if (view->isKindOfClass(UITextField::classObject()) && view->isFirstResponder()) {
      GlobalVars::sharedInstance()->set_editAbleElement(view);
    }
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kRecordingGUIDKey, &step);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    if (!keep || keep(view, step)) views_.push_back(view);
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
  walkSubviewsInPreOrder(root, [this, &keep](const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                             const WalkStep& step) {
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kPlaybackGUIDKey, &step);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    if (!keep || keep(view, step)) views_.push_back(view);
    return true;
  });
  return views_;
}
