#include "quorvel/model/VisibleViewList.h"

#include "foundation/log.h"
#include "foundation/string.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIApplication.h"
#include "uikit/UIWindow.h"

namespace VisibleViewList {

std::shared_ptr<UIWindow> getCurrentWindow() {
  auto window = UIApplication::sharedApplication()->keyWindow();
  if (!window) NSLog("Window Not Found");
  return window;
}

std::vector<std::shared_ptr<UIView>> getAllUIViewsAccordingToViewType(const std::optional<std::string>& tag) {
  auto manager = std::make_shared<UIViewsManager>();
  if (!tag) {
    manager->GetAllViewsForPlayer(getCurrentWindow(), true, UIViewsManager::keepNone());  // the walk still gives GUIDs
    return {};
  }
  const std::string wanted = foundation::lowercaseString(*tag);
  return manager->GetAllViewsForPlayer(getCurrentWindow(), true,
                                       [&wanted](UIView& view, const UIViewsManager::WalkStep& step) {
                                         if (!wanted.empty() && !foundation::lowercaseEquals(view.className(), wanted)) {
                                           return false;
                                         }
                                         return step.isVisibleInWindowFrame();
                                       });
}

}  // namespace VisibleViewList
