// The identity attributes of live views. A view may carry a recording GUID and a
// playback GUID, each a free key-value attribute of its backing layer. An attribute
// is attached once, when a walk first meets the view, together with the
// registration of the view's position xpath under it, and is never changed; the
// registration ends when the view is destroyed.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "quorvel/model/UIViewsManager.h"

class UIView;

namespace ViewIdentity {

// Texts made once, so that the per-view look-ups of a walk do not build their key,
// and never destroyed: walks on background threads may outlive static destruction.
inline const std::string& kRecordingGUIDKey = *new std::string("ZarvoUIVIewGuid");
inline const std::string& kPlaybackGUIDKey = *new std::string("ZarvoUIVIewGuid_PlayBack");

// The GUID stored on the view's layer under `key`; absent for no view or no GUID.
std::optional<std::string> getGUID(const std::shared_ptr<UIView>& view, const std::string& key);
inline std::optional<std::string> getRecordingGUID(const std::shared_ptr<UIView>& view) {
  return getGUID(view, kRecordingGUIDKey);
}
inline std::optional<std::string> getPlaybackGUID(const std::shared_ptr<UIView>& view) {
  return getGUID(view, kPlaybackGUIDKey);
}

// When `view` has no GUID under `key`: makes a new one, attaches it, then registers
// the view's position xpath under it with `parent` (XpathManager). Returns whether
// a GUID was attached.
//
// Atomic per view: of several threads meeting the same view at once exactly one
// attaches, and the others return only after its registration is complete, so a
// walk that goes on to the view's subviews always finds the parent's xpath.
// `step`, when given, supplies the parent's xpath and the view's same-class
// sibling index (a walk knows both cheaply); otherwise they are looked up in the
// registry and counted from the superview.
bool attachGUIDIfAbsent(UIView& parent, UIView& view, const std::string& key,
                        const UIViewsManager::WalkStep* step = nullptr);

}  // namespace ViewIdentity
