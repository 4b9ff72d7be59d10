#include "quorvel/model/XpathManager.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>
#include <functional>

#include "dispatch/dispatch.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(XpathManager, objc::Object)

// The xpath and the GUID in the same allocation, right after the object, with
// their hashes; counted by its handles.
class XpathManager::Registration {
 public:
  // The registration of `guid` with the xpath: the parent's xpath, a backslash,
  // the class name and the bracketed index.
  static Registration* make(XpathManager& registry, std::string_view parentXpath, std::string_view className,
                            std::string_view bracketedIndex, std::string_view guid) {
    const std::size_t xpathSize = parentXpath.size() + 1 + className.size() + bracketedIndex.size();
    void* memory = ::operator new(sizeof(Registration) + xpathSize + guid.size());
    char* end = static_cast<char*>(memory) + sizeof(Registration);
    for (std::string_view part : {parentXpath, std::string_view("\\"), className, bracketedIndex, guid}) {
      end = std::copy(part.begin(), part.end(), end);
    }
    return new (memory) Registration(registry, xpathSize, guid.size());
  }

  void retain() { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    registry_.unregister(this);
    this->~Registration();
    ::operator delete(static_cast<void*>(this));
  }

  std::string_view xpath() const { return {text(), xpathSize_}; }
  std::string_view guid() const { return {text() + xpathSize_, guidSize_}; }
  Index::Hash guidHash() const { return guidHash_; }
  Index::Hash xpathHash() const { return xpathHash_; }

 private:
  Registration(XpathManager& registry, std::size_t xpathSize, std::size_t guidSize)
      : registry_(registry),
        xpathSize_(static_cast<std::uint32_t>(xpathSize)),
        guidSize_(static_cast<std::uint32_t>(guidSize)),
        guidHash_(Index::hashOf(guid())),
        xpathHash_(Index::hashOf(xpath())) {}
  ~Registration() = default;
  const char* text() const { return reinterpret_cast<const char*>(this) + sizeof(Registration); }

  // 32 bytes on a 64-bit system: there is one registration per view.
  XpathManager& registry_;
  std::atomic<std::uint32_t> references_{0};
  const std::uint32_t xpathSize_;
  const std::uint32_t guidSize_;
  const Index::Hash guidHash_;
  const Index::Hash xpathHash_;
};

XpathManager::Handle::Handle(Registration* registration) : registration_(registration) {
  if (registration_) registration_->retain();
}

XpathManager::Handle::Handle(const Handle& other) : registration_(other.registration_) {
  if (registration_) registration_->retain();
}

XpathManager::Handle::~Handle() {
  if (registration_) registration_->release();
}

// --- Index ---

std::string_view XpathManager::Index::keyOf(const Registration* entry) const {
  return byXpath_ ? entry->xpath() : entry->guid();
}

XpathManager::Index::Hash XpathManager::Index::hashOf(const Registration* entry) const {
  return byXpath_ ? entry->xpathHash() : entry->guidHash();
}

XpathManager::Registration* XpathManager::Index::find(std::string_view key) const {
  if (entries_.empty()) return nullptr;
  const std::size_t mask = entries_.size() - 1;
  const Hash hash = hashOf(key);
  const std::uint8_t tag = tagOf(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Registration* entry = entries_[i];
    if (!entry) return nullptr;
    if (tags_[i] == tag && keyOf(entry) == key) return entry;
  }
}

void XpathManager::Index::put(Registration* entry) {
  // At most 70 % full: runs stay short.
  if (10 * (size_ + 1) > 7 * entries_.size()) grow();
  const std::size_t mask = entries_.size() - 1;
  const Hash hash = hashOf(entry);
  const std::uint8_t tag = tagOf(hash);
  const std::string_view key = keyOf(entry);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    if (!entries_[i]) {
      entries_[i] = entry;
      tags_[i] = tag;
      ++size_;
      return;
    }
    if (tags_[i] == tag && keyOf(entries_[i]) == key) {
      entries_[i] = entry;
      return;
    }
  }
}

void XpathManager::Index::remove(const Registration* entry) {
  if (entries_.empty()) return;
  const std::size_t mask = entries_.size() - 1;
  std::size_t hole = hashOf(entry) & mask;
  for (;; hole = (hole + 1) & mask) {
    if (!entries_[hole]) return;
    if (entries_[hole] == entry) break;
  }
  // Entries further along the run move back into the hole unless their own home
  // lies cyclically after it (they would then be found no more).
  for (std::size_t next = (hole + 1) & mask; entries_[next]; next = (next + 1) & mask) {
    const std::size_t home = hashOf(entries_[next]) & mask;
    const bool homeAfterHole = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (homeAfterHole) continue;
    entries_[hole] = entries_[next];
    tags_[hole] = tags_[next];
    hole = next;
  }
  entries_[hole] = nullptr;
  --size_;
}

void XpathManager::Index::grow() {
  std::vector<Registration*> old(std::max<std::size_t>(64, 2 * entries_.size()));
  old.swap(entries_);
  tags_.assign(entries_.size(), 0);
  const std::size_t mask = entries_.size() - 1;
  for (Registration* entry : old) {
    if (!entry) continue;
    const Hash hash = hashOf(entry);
    std::size_t i = hash & mask;
    while (entries_[i]) i = (i + 1) & mask;
    entries_[i] = entry;
    tags_[i] = tagOf(hash);
  }
}

// --- XpathManager ---

XpathManager::XpathManager() = default;

// The kept registrations leave the indexes as they go.
XpathManager::~XpathManager() { kept_.clear(); }

std::shared_ptr<XpathManager> XpathManager::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<XpathManager>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<XpathManager>(std::make_shared<XpathManager>()); });
  return *instance;
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

XpathManager::Handle XpathManager::registerXpath(std::string_view parentXpath, const std::shared_ptr<UIView>& view,
                                                 std::string_view guid, long sameClassIndex) {
  // The view's segment: "%@[%ld]" of the class name and index.
  char index[24];
  const int indexSize = std::snprintf(index, sizeof index, "[%ld]", sameClassIndex);
  Registration* entry = Registration::make(*this, parentXpath, view->className(),
                                           std::string_view(index, static_cast<std::size_t>(indexSize)), guid);
  Handle handle(entry);
  std::lock_guard lock(mutex_);
  byXpath_.put(entry);
  byGUID_.put(entry);
  return handle;
}

XpathManager::Handle XpathManager::registerXpath(const std::shared_ptr<UIView>& parent,
                                                 const std::shared_ptr<UIView>& view, std::string_view guid) {
  return registerXpath(getPositionXpathOfUIView(parent).value_or(""), view, guid, sameClassIndexOf(view));
}

void XpathManager::unregister(const Registration* entry) {
  std::lock_guard lock(mutex_);
  byXpath_.remove(entry);
  byGUID_.remove(entry);
}

void XpathManager::createXpathPositionOfUIView(const std::shared_ptr<UIView>& parent,
                                               const std::shared_ptr<UIView>& view, const std::string& guid) {
  if (!view) return;
  auto replaced = registerXpath(parent, view, guid);
  {
    std::lock_guard lock(mutex_);
    std::swap(kept_[guid], replaced);
  }
  // The registration replaced, if any, goes here, outside the lock: it takes the lock to leave.
}

std::optional<std::string> XpathManager::xpathOfGUID(const std::optional<std::string>& guid) const {
  if (!guid) return std::nullopt;
  std::lock_guard lock(mutex_);
  const Registration* entry = byGUID_.find(*guid);
  if (!entry) return std::nullopt;
  return std::string(entry->xpath());
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
  const Registration* entry = byXpath_.find(*xpath);
  if (!entry) return std::nullopt;
  return std::string(entry->guid());
}

std::map<std::string, std::string> XpathManager::getXpathPosition_PlaybackDictionary() const {
  std::lock_guard lock(mutex_);
  std::map<std::string, std::string> dictionary;
  byXpath_.forEach([&](const Registration& entry) { dictionary.emplace(entry.xpath(), entry.guid()); });
  return dictionary;
}

std::size_t XpathManager::registeredGUIDCount() const {
  std::lock_guard lock(mutex_);
  return byGUID_.size();
}
