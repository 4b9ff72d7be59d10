// The cells of a table or collection view: the visible ones by index path, a reuse
// pool by identifier and the registered cell classes. Its lock is never held while
// calling out (into views or the data source).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"
#include "uikit/NSIndexPath.h"
#include "uikit/UIView.h"

namespace uikit_internal {

template <class Cell>
class CellStore {
 public:
  void registerClass(const std::string& identifier, objc::Class* cls) {
    std::lock_guard lock(mutex_);
    registered_[identifier] = cls;
  }

  // A pooled cell prepared for reuse, or nullptr.
  std::shared_ptr<Cell> dequeue(const std::string& identifier) {
    std::shared_ptr<Cell> cell;
    {
      std::lock_guard lock(mutex_);
      auto it = pool_.find(identifier);
      if (it == pool_.end() || it->second.empty()) return nullptr;
      cell = it->second.back();
      it->second.pop_back();
    }
    cell->prepareForReuse();
    return cell;
  }

  // A pooled cell, else a new instance of the registered class; nullptr when neither.
  std::shared_ptr<Cell> dequeueOrMake(const std::string& identifier) {
    if (auto cell = dequeue(identifier)) return cell;
    objc::Class* cls = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto it = registered_.find(identifier);
      if (it != registered_.end()) cls = it->second;
    }
    auto cell = cls ? objc::cast<Cell>(cls->createInstance()) : nullptr;
    if (cell) cell->_setReuseIdentifier(identifier);
    return cell;
  }

  std::size_t poolSize(const std::string& identifier) const {
    std::lock_guard lock(mutex_);
    auto it = pool_.find(identifier);
    return it == pool_.end() ? 0 : it->second.size();
  }

  std::shared_ptr<Cell> visibleAt(NSIndexPath indexPath) const {
    std::lock_guard lock(mutex_);
    auto it = visible_.find(indexPath);
    return it == visible_.end() ? nullptr : it->second;
  }

  std::vector<std::shared_ptr<Cell>> visibleCells() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Cell>> cells;
    for (const auto& [ip, cell] : visible_) cells.push_back(cell);
    return cells;
  }

  std::vector<NSIndexPath> visibleIndexPaths() const {
    std::lock_guard lock(mutex_);
    std::vector<NSIndexPath> paths;
    for (const auto& [ip, cell] : visible_) paths.push_back(ip);
    return paths;
  }

  std::optional<NSIndexPath> indexPathOf(const std::shared_ptr<Cell>& cell) const {
    std::lock_guard lock(mutex_);
    for (const auto& [ip, c] : visible_) {
      if (c == cell) return ip;
    }
    return std::nullopt;
  }

  // Every visible cell leaves the container for the pool (a reload asks again).
  void recycleAll() { update(nullptr, {}, nullptr); }

  // Makes the visible cells those of `wanted` (index path and frame, in order):
  // cells no longer wanted go to the pool, missing ones come from `cellFor`, all get
  // their frames, and new cells are placed among the container's subviews in
  // index order.
  void update(const std::shared_ptr<UIView>& container, const std::vector<std::pair<NSIndexPath, CGRect>>& wanted,
              const std::function<std::shared_ptr<Cell>(NSIndexPath)>& cellFor) {
    std::vector<std::shared_ptr<Cell>> leaving;
    {
      std::lock_guard lock(mutex_);
      for (auto it = visible_.begin(); it != visible_.end();) {
        bool keep = false;
        for (const auto& w : wanted) keep = keep || w.first == it->first;
        if (keep) {
          ++it;
        } else {
          leaving.push_back(it->second);
          it = visible_.erase(it);
        }
      }
    }
    for (const auto& cell : leaving) {
      cell->removeFromSuperview();
      if (auto id = cell->reuseIdentifier()) {
        std::lock_guard lock(mutex_);
        pool_[*id].push_back(cell);
      }
    }
    for (const auto& [indexPath, frame] : wanted) {
      auto cell = visibleAt(indexPath);
      if (!cell && cellFor) {
        cell = cellFor(indexPath);
        if (!cell) continue;
        std::shared_ptr<Cell> before, after;
        {
          std::lock_guard lock(mutex_);
          std::erase_if(visible_, [&](const auto& entry) { return entry.second == cell; });
          auto next = visible_.upper_bound(indexPath);
          if (next != visible_.end()) after = next->second;
          if (next != visible_.begin()) before = std::prev(next)->second;
          visible_[indexPath] = cell;
        }
        if (after) {
          container->insertSubviewBelowSubview(cell, after);
        } else if (before) {
          container->insertSubviewAboveSubview(cell, before);
        } else {
          container->addSubview(cell);
        }
      }
      if (cell) cell->setFrame(frame);
    }
  }

 private:
  mutable std::mutex mutex_;
  std::map<NSIndexPath, std::shared_ptr<Cell>> visible_;
  std::map<std::string, std::vector<std::shared_ptr<Cell>>> pool_;
  std::map<std::string, objc::Class*> registered_;
};

}  // namespace uikit_internal
