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
  auto all = std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(getCurrentWindow(), true);
  std::vector<std::shared_ptr<UIView>> visible;
  if (!tag) return visible;
  std::string wanted = foundation::lowercaseString(*tag);
  for (auto& view : all) {
    if (!wanted.empty() && foundation::lowercaseString(Utilities::getUIViewClassName(view).value_or("")) != wanted) {
      continue;
    }
    if (!UIView_ToolkitAdditions::isVisibleInWindowFrame(view)) continue;
    visible.push_back(std::move(view));
  }
  return visible;
}

}  // namespace VisibleViewList
