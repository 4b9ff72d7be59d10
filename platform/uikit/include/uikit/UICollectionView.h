// A grid of items over a scroll view, with the same data-source and reuse rules as
// the table view: only visible items are subviews (in item order), placed on
// layout; cells come from registered classes through the reuse pool.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/NSIndexPath.h"
#include "uikit/UICollectionViewCell.h"
#include "uikit/UICollectionViewFlowLayout.h"
#include "uikit/UIScrollView.h"

class UICollectionView;
namespace uikit_internal {
template <class Cell>
class CellStore;
}

class UICollectionViewDataSource {
 public:
  virtual ~UICollectionViewDataSource() = default;
  virtual long numberOfSectionsInCollectionView(const std::shared_ptr<UICollectionView>&) { return 1; }
  virtual long numberOfItemsInSection(const std::shared_ptr<UICollectionView>& collectionView, long section) = 0;
  virtual std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(
      const std::shared_ptr<UICollectionView>& collectionView, NSIndexPath indexPath) = 0;
};

class UICollectionViewDelegate {
 public:
  virtual ~UICollectionViewDelegate() = default;
  virtual void didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, NSIndexPath) {}
};

class UICollectionView : public UIScrollView {
  QV_OBJC_DECLARE_CLASS(UICollectionView)
 public:
  explicit UICollectionView(CGRect frame = CGRectZero,
                            std::shared_ptr<UICollectionViewFlowLayout> layout = nullptr);
  ~UICollectionView() override;

  std::shared_ptr<UICollectionViewFlowLayout> collectionViewLayout() const;
  std::shared_ptr<UICollectionViewDataSource> dataSource() const;
  void setDataSource(const std::shared_ptr<UICollectionViewDataSource>& dataSource);
  std::shared_ptr<UICollectionViewDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UICollectionViewDelegate>& delegate);

  void reloadData();
  long numberOfSections() const;
  long numberOfItemsInSection(long section) const;

  void registerClassForCellWithReuseIdentifier(objc::Class* cellClass, const std::string& identifier);
  // A pooled cell, else a new one of the registered class; nullptr when neither.
  std::shared_ptr<UICollectionViewCell> dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                                               NSIndexPath indexPath);

  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(NSIndexPath indexPath) const;  // visible only
  std::vector<std::shared_ptr<UICollectionViewCell>> visibleCells() const;
  std::vector<NSIndexPath> indexPathsForVisibleItems() const;
  std::optional<NSIndexPath> indexPathForItemAtPoint(CGPoint point) const;
  CGRect _frameForItemAtIndexPath(NSIndexPath indexPath) const;
  std::size_t _reusePoolSize(const std::string& identifier) const;

  void layoutSubviews() override;
  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

 protected:
  void boundsDidChange(CGRect oldBounds, CGRect newBounds) override;

 private:
  void computeFrames();
  void layoutVisibleCells();

  std::shared_ptr<UICollectionViewFlowLayout> layout_;
  std::weak_ptr<UICollectionViewDataSource> dataSource_;
  std::weak_ptr<UICollectionViewDelegate> delegate_;
  std::vector<long> itemsPerSection_;
  std::vector<std::pair<NSIndexPath, CGRect>> frames_;
  CGFloat frameWidth_ = -1;
  std::unique_ptr<uikit_internal::CellStore<UICollectionViewCell>> cells_;
  std::optional<NSIndexPath> pressed_;
  bool loaded_ = false;
};
