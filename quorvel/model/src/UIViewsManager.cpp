#include "quorvel/model/UIViewsManager.h"

#include <string>
#include <unordered_map>

#include "quorvel/model/ViewIdentity.h"
#include "quorvel/util/Utilities.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(UIViewsManager, objc::Object)

void UIViewsManager::walkSubviewsInPreOrder(const std::shared_ptr<UIView>& root, const Visitor& visit) {
  if (!root) return;
  struct Level {
    std::shared_ptr<UIView> parent;
    std::vector<std::shared_ptr<UIView>> children;  // a snapshot taken when the level is entered
    std::size_t next = 0;
    std::vector<long> sameClassIndexes;  // counted on first demand

    long sameClassIndexAt(std::size_t position) {
      if (sameClassIndexes.empty()) {
        std::unordered_map<std::string, long> seen;
        sameClassIndexes.reserve(children.size());
        for (const auto& child : children) {
          sameClassIndexes.push_back(seen[Utilities::getUIViewClassName(child).value_or("")]++);
        }
      }
      return sameClassIndexes[position];
    }
  };
  std::vector<Level> stack;
  stack.push_back({root, root->subviews(), 0, {}});
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.size()) {
      stack.pop_back();
      continue;
    }
    const std::size_t position = level.next++;
    std::shared_ptr<UIView> view = level.children[position];
    std::shared_ptr<UIView> parent = level.parent;
    // The level stays in place while the visitor runs: nothing is pushed before it returns.
    if (!visit(parent, view, [&level, position] { return level.sameClassIndexAt(position); })) continue;
    auto children = view->subviews();
    if (!children.empty()) stack.push_back({std::move(view), std::move(children), 0, {}});
  }
}

UIViewsManager::ViewList UIViewsManager::GetAllViews(const std::shared_ptr<UIView>& root, bool start) {
  if (start) views_.clear();
  walkSubviewsInPreOrder(root, [this](const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                      const SameClassIndex& sameClassIndex) {
    if (view->isHidden()) return false;
    if (view->isKindOfClass(UITextField::classObject()) && view->isFirstResponder()) {
      GlobalVars::sharedInstance()->set_editAbleElement(view);
    }
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kRecordingGUIDKey, sameClassIndex);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    views_.push_back(view);
    return true;
  });
  return views_;
}

UIViewsManager::ViewList UIViewsManager::GetAllViewsForPlayer(const std::shared_ptr<UIView>& root, bool start) {
  if (start) views_.clear();
  walkSubviewsInPreOrder(root, [this](const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                      const SameClassIndex& sameClassIndex) {
    ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kPlaybackGUIDKey, sameClassIndex);
    UIView_ToolkitAdditions::TK_clearStaleHighlight(view);  // a highlight left behind
    views_.push_back(view);
    return true;
  });
  return views_;
}
