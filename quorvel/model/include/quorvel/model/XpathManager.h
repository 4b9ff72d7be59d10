// The xpath registry: the position xpath of every view that was given a GUID,
// built once at that moment, and the translation in both directions between GUIDs
// and xpaths. Recording and playback GUIDs share one map.
//
// A position xpath is one segment per level from the top of the window down to the
// view, each a backslash, the exact run-time class name and the view's index among
// the same-class subviews of its superview, from 0: \UIView[0]\UILabel[1].
//
// Entries are added or overwritten as walks meet views, and removed when their
// view is gone (ViewIdentity ties each registration to its view's life): views
// come and go for as long as the application runs, and the registry keeps only
// those that are alive. All operations may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "objc/runtime.h"

class UIView;

class XpathManager : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XpathManager)
 public:
  // The single registry, created once on first use and never destroyed.
  static std::shared_ptr<XpathManager> sharedInstance();

  // Builds the view's xpath (the parent's registered xpath, or nothing when the
  // parent has none, then the view's own segment) and registers it under `guid`.
  // An earlier GUID registered under the same xpath is replaced.
  void createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                   const std::string& guid);
  // The same with the view's same-class sibling index already known, as a walk
  // that counts a whole level at once knows it.
  void createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                   const std::string& guid, long sameClassIndex);
  // The view's index among the subviews of its superview that have exactly its
  // class name, counted back to front from 0; 0 for a view without a superview.
  static long sameClassIndexOf(const std::shared_ptr<UIView>& view);
  // The xpath registered for the view's recording GUID, else for its playback
  // GUID; absent when it has neither or the GUID was never registered.
  std::optional<std::string> getPositionXpathOfUIView(const std::shared_ptr<UIView>& view) const;
  // The GUID last registered under the xpath; absent for an xpath never registered.
  std::optional<std::string> getIdentificationGUIDFromXpath(const std::optional<std::string>& xpath) const;
  // A snapshot of the GUID-by-xpath map.
  std::map<std::string, std::string> getXpathPosition_PlaybackDictionary() const;
  // Forgets the GUID of a view that is gone: its xpath, and the xpath's entry while
  // it still names this GUID (a later view may have taken the xpath over).
  void removeXpathPositionOfGUID(const std::string& guid);
  // Diagnostics: the GUIDs that have an xpath.
  std::size_t registeredGUIDCount() const;

 private:
  std::optional<std::string> xpathOfGUID(const std::optional<std::string>& guid) const;

  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::string> xpathByGUID_;
  std::unordered_map<std::string, std::string> guidByXpath_;
};
