// The object spy's storage: every view the spy described, under a fresh GUID, and
// the GUID under each storage key ("0", "1", "2", ... issued one per described view
// for the life of the process). Nothing is ever removed, so described views stay
// alive until the process ends. Every member can be used from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "objc/runtime.h"

class UIView;

class UIViewStorage : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIViewStorage)
 public:
  using ViewsByIdentifier = std::map<std::string, std::shared_ptr<UIView>>;
  using IdentifiersByKey = std::map<std::string, std::string>;

  // The single storage, created once on first use and never destroyed.
  static std::shared_ptr<UIViewStorage> sharedObject();

  // Snapshots of the two maps (GUID -> view, storage key -> GUID). They are copies:
  // change the storage through the operations below.
  const ViewsByIdentifier _viewsStorageWithIdentifier() const;
  const IdentifiersByKey _viewsStorageKey() const;

  // One entry of each map. Setting an entry replaces what was stored under it.
  void setViewForIdentifier(const std::string& identifier, const std::shared_ptr<UIView>& view);
  std::shared_ptr<UIView> viewForIdentifier(const std::string& identifier) const;
  std::size_t numberOfViews() const;  // entries of the GUID -> view map
  void setIdentifierForKey(const std::string& key, const std::string& identifier);
  std::optional<std::string> identifierForKey(const std::string& key) const;

  // The last storage key issued, a decimal integer text ("-1" before the first).
  std::string _key() const;
  void set_key(const std::string& key);

  // Number of records of the latest spy list.
  unsigned long count() const;
  void setCount(unsigned long count);

  // Stores `view` under `identifier`, issues the next storage key (the integer
  // value of _key plus one) and stores the identifier under it, all at once.
  // Returns the new key.
  std::string storeView(const std::shared_ptr<UIView>& view, const std::string& identifier);
  // The view stored under a storage key, or nullptr when the key or its GUID is unknown.
  std::shared_ptr<UIView> viewForKey(const std::string& key) const;

 private:
  mutable std::mutex mutex_;
  ViewsByIdentifier viewsStorageWithIdentifier_;
  IdentifiersByKey viewsStorageKey_;
  std::string key_ = "-1";
  unsigned long count_ = 0;
};
