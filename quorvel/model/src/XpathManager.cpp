#include "quorvel/model/XpathManager.h"

#include "dispatch/dispatch.h"
#include "foundation/format.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(XpathManager, objc::Object)

std::shared_ptr<XpathManager> XpathManager::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<XpathManager>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<XpathManager>(std::make_shared<XpathManager>()); });
  return *instance;
}

void XpathManager::createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent,
                                               const std::shared_ptr<UIView>& view, const std::string& guid) {
  if (!view) return;
  createXpathPositionOfUIView(parent, view, guid, sameClassIndexOf(view));
}

long XpathManager::sameClassIndexOf(const std::shared_ptr<UIView>& view) {
  long index = 0;
  auto superview = view ? view->superview() : nullptr;
  if (!superview) return index;
  auto className = Utilities::getUIViewClassName(view);
  for (const auto& sibling : superview->subviews()) {
    if (sibling == view) break;
    if (Utilities::getUIViewClassName(sibling) == className) ++index;
  }
  return index;
}

void XpathManager::createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent,
                                               const std::shared_ptr<UIView>& view, const std::string& guid,
                                               long sameClassIndex) {
  if (!view) return;
  // The parent's xpath, a backslash, then "%@[%ld]" of the class name and index.
  std::string xpath = getPositionXpathOfUIView(parent).value_or("");
  xpath += '\\';
  xpath += view->className();
  xpath += '[';
  xpath += std::to_string(sameClassIndex);
  xpath += ']';

  std::lock_guard lock(mutex_);
  guidByXpath_[xpath] = guid;
  xpathByGUID_[guid] = std::move(xpath);
}

std::optional<std::string> XpathManager::xpathOfGUID(const std::optional<std::string>& guid) const {
  if (!guid) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = xpathByGUID_.find(*guid);
  if (it == xpathByGUID_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> XpathManager::getPositionXpathOfUIView(const std::shared_ptr<UIView>& view) const {
  if (!view) return std::nullopt;
  auto guid = ViewIdentity::getRecordingGUID(view);
  if (!guid) guid = ViewIdentity::getPlaybackGUID(view);
  return xpathOfGUID(guid);
}

std::optional<std::string> XpathManager::getIdentificationGUIDFromXpath(const std::optional<std::string>& xpath) const {
  if (!xpath) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = guidByXpath_.find(*xpath);
  if (it == guidByXpath_.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> XpathManager::getXpathPosition_PlaybackDictionary() const {
  std::lock_guard lock(mutex_);
  return {guidByXpath_.begin(), guidByXpath_.end()};
}

void XpathManager::removeXpathPositionOfGUID(const std::string& guid) {
  std::lock_guard lock(mutex_);
  auto it = xpathByGUID_.find(guid);
  if (it == xpathByGUID_.end()) return;
  auto named = guidByXpath_.find(it->second);
  if (named != guidByXpath_.end() && named->second == guid) guidByXpath_.erase(named);
  xpathByGUID_.erase(it);
}

std::size_t XpathManager::registeredGUIDCount() const {
  std::lock_guard lock(mutex_);
  return xpathByGUID_.size();
}
