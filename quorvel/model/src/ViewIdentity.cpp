#include "quorvel/model/ViewIdentity.h"

#include <any>
#include <array>
#include <functional>
#include <memory>
#include <mutex>

#include "quorvel/model/XpathManager.h"
#include "quorvel/util/Utilities.h"
#include "uikit/CALayer.h"
#include "uikit/UIView.h"

namespace ViewIdentity {
namespace {

// Attach-if-absent is serialised per layer through a small table of locks, so that
// walks over different views rarely wait on each other. No other lock of the agent
// is taken while one of these is held, except the registry's own.
constexpr std::size_t kStripes = 64;

std::mutex& stripeFor(const CALayer* layer) {
  static auto& stripes = *new std::array<std::mutex, kStripes>;  // walks run during exit too
  return stripes[std::hash<const CALayer*>{}(layer) % kStripes];
}

// The view's associated-object key for the registration of one GUID key: the view
// holds its registrations, so that they end with it.
const void* registrationKey(const std::string& guidKey) {
  return guidKey == kRecordingGUIDKey ? static_cast<const void*>(&kRecordingGUIDKey)
                                      : static_cast<const void*>(&kPlaybackGUIDKey);
}

std::optional<std::string> readGUID(CALayer& layer, const std::string& key) {
  std::any value = layer.valueForKey(key);
  if (auto* text = std::any_cast<std::string>(&value)) return std::move(*text);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> getGUID(const std::shared_ptr<UIView>& view, const std::string& key) {
  if (!view) return std::nullopt;
  return readGUID(*view->layer(), key);
}

bool attachGUIDIfAbsent(UIView& parent, UIView& view, const std::string& key, const UIViewsManager::WalkStep* step) {
  CALayer& layer = view._layerRef();
  // A GUID once published stays: a view that has one needs no lock (it is
  // published only after its registration, so that is complete too).
  if (layer._hasAttribute(key)) return false;
  std::lock_guard lock(stripeFor(&layer));
  if (layer._hasAttribute(key)) return false;
  std::string guid = Utilities::getGUIDString();
  // Registered before it is published on the layer: a walk on another thread that
  // reads the GUID from the layer (without this lock) must also find its xpath,
  // or it would build its children's xpaths without their parent's prefix.
  auto registry = XpathManager::sharedInstance();
  auto registration = step ? registry->registerXpath(step->parentXpath(), view.self<UIView>(), guid, step->sameClassIndex())
                           : registry->registerXpath(parent.self<UIView>(), view.self<UIView>(), guid);
  view.setAssociatedObject(registrationKey(key), std::move(registration));
  layer.setValueForKey(key, std::move(guid));
  return true;
}

}  // namespace ViewIdentity
