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
//
// Each registration is one small object holding its GUID and xpath; the two
// directions are open-addressing tables of pointers to them, so that registering
// the views of a new screen costs one allocation per view and no per-entry nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "objc/runtime.h"

class UIView;

class XpathManager : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XpathManager)
 public:
  XpathManager();
  ~XpathManager() override;

  // The single registry, created once on first use and never destroyed.
  static std::shared_ptr<XpathManager> sharedInstance();

  // One GUID's entry: its xpath and GUID in one allocation.
  class Registration;
  // A counted reference to a registration. The registration stays in the registry
  // for as long as a handle to it is kept (by a view, through ViewIdentity), and
  // must not outlive its registry. A handle is one pointer: a view keeps it in
  // std::any without a further allocation.
  class Handle {
   public:
    Handle() = default;
    explicit Handle(Registration* registration);
    Handle(const Handle& other);
    Handle(Handle&& other) noexcept : registration_(other.registration_) { other.registration_ = nullptr; }
    Handle& operator=(Handle other) noexcept {
      std::swap(registration_, other.registration_);
      return *this;
    }
    ~Handle();
    explicit operator bool() const { return registration_ != nullptr; }

   private:
    Registration* registration_ = nullptr;
  };

  // Builds the view's xpath (`parentXpath`, the parent's registered xpath or empty,
  // then the view's own segment with `sameClassIndex`) and registers it under
  // `guid`; the registration ends when the last handle to it goes. An earlier
  // registration of the same xpath, or of the same GUID, is replaced.
  Handle registerXpath(std::string_view parentXpath, const std::shared_ptr<UIView>& view, std::string_view guid,
                       long sameClassIndex);
  // The same with the parent's registered xpath looked up and the index counted
  // from the view's superview.
  Handle registerXpath(const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                       std::string_view guid);

  // Builds the view's xpath (the parent's registered xpath, or nothing when the
  // parent has none, then the view's own segment) and registers it under `guid`
  // for the life of the registry. An earlier GUID registered under the same xpath
  // is replaced.
  void createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                                   const std::string& guid);
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
  // Diagnostics: the GUIDs that have an xpath.
  std::size_t registeredGUIDCount() const;

 private:
  // Registrations by one of their two texts: linear probing over a power-of-two
  // table of pointers, removal by shifting the rest of a run back. Beside each
  // pointer one byte of its key's hash lets a probe pass other keys without
  // reading their registrations (a full hash per slot would double the table).
  class Index {
   public:
    explicit Index(bool byXpath) : byXpath_(byXpath) {}
    // A key's hash: 32 bits are plenty for a table's position and tag.
    using Hash = std::uint32_t;
    static Hash hashOf(std::string_view key) { return static_cast<Hash>(std::hash<std::string_view>{}(key)); }
    Registration* find(std::string_view key) const;
    // Puts `entry` in place of the registration under the same key, if any.
    void put(Registration* entry);
    // Removes `entry` if it is the one under its key.
    void remove(const Registration* entry);
    std::size_t size() const { return size_; }
    template <class Visit>
    void forEach(Visit visit) const {
      for (const Registration* entry : entries_) {
        if (entry) visit(*entry);
      }
    }

   private:
    std::string_view keyOf(const Registration* entry) const;
    Hash hashOf(const Registration* entry) const;
    // The hash's top byte: the slot's position comes from its low bits.
    static std::uint8_t tagOf(Hash hash) { return static_cast<std::uint8_t>(hash >> (8 * sizeof hash - 8)); }
    void grow();

    bool byXpath_;
    std::vector<Registration*> entries_;
    std::vector<std::uint8_t> tags_;
    std::size_t size_ = 0;
  };

  void unregister(const Registration* entry);
  std::optional<std::string> xpathOfGUID(const std::optional<std::string>& guid) const;

  mutable std::mutex mutex_;
  Index byGUID_{false};
  Index byXpath_{true};
  // The registrations of createXpathPositionOfUIView, which no view holds.
  std::unordered_map<std::string, Handle> kept_;
};
