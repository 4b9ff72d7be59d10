// The grid layout of a collection view: fixed item size, spacings and section
// insets; items flow left to right, then top to bottom (vertical scrolling).
#pragma once

#include <mutex>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class UICollectionViewFlowLayout : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UICollectionViewFlowLayout)
 public:
  UICollectionViewFlowLayout() = default;

  CGSize itemSize() const;  // 50 x 50 by default
  void setItemSize(CGSize size);
  CGFloat minimumInteritemSpacing() const;  // 10
  void setMinimumInteritemSpacing(CGFloat spacing);
  CGFloat minimumLineSpacing() const;  // 10
  void setMinimumLineSpacing(CGFloat spacing);
  UIEdgeInsets sectionInset() const;
  void setSectionInset(UIEdgeInsets insets);

 private:
  mutable std::mutex mutex_;
  CGSize itemSize_{50, 50};
  CGFloat interitem_ = 10;
  CGFloat line_ = 10;
  UIEdgeInsets sectionInset_;
};
