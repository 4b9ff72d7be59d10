#include "class_support.h"
#include "uikit/UICollectionView.h"

#include <algorithm>
#include <cmath>

#include "cell_store.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UICollectionView, UIScrollView)
QV_OBJC_DEFINE_CLASS(UICollectionViewCell, UIView)
QV_OBJC_DEFINE_CLASS(UICollectionViewFlowLayout, objc::Object)

// Flow layout ----------------------------------------------------------------

CGSize UICollectionViewFlowLayout::itemSize() const {
  std::lock_guard lock(mutex_);
  return itemSize_;
}
void UICollectionViewFlowLayout::setItemSize(CGSize size) {
  std::lock_guard lock(mutex_);
  itemSize_ = size;
}
CGFloat UICollectionViewFlowLayout::minimumInteritemSpacing() const {
  std::lock_guard lock(mutex_);
  return interitem_;
}
void UICollectionViewFlowLayout::setMinimumInteritemSpacing(CGFloat spacing) {
  std::lock_guard lock(mutex_);
  interitem_ = std::max(0.0, spacing);
}
CGFloat UICollectionViewFlowLayout::minimumLineSpacing() const {
  std::lock_guard lock(mutex_);
  return line_;
}
void UICollectionViewFlowLayout::setMinimumLineSpacing(CGFloat spacing) {
  std::lock_guard lock(mutex_);
  line_ = std::max(0.0, spacing);
}
UIEdgeInsets UICollectionViewFlowLayout::sectionInset() const {
  std::lock_guard lock(mutex_);
  return sectionInset_;
}
void UICollectionViewFlowLayout::setSectionInset(UIEdgeInsets insets) {
  std::lock_guard lock(mutex_);
  sectionInset_ = insets;
}

// Cell -----------------------------------------------------------------------

UICollectionViewCell::UICollectionViewCell(CGRect frame) : UIView(frame) {}

std::optional<std::string> UICollectionViewCell::reuseIdentifier() const {
  std::lock_guard lock(mutex_);
  return reuseIdentifier_;
}
void UICollectionViewCell::_setReuseIdentifier(std::optional<std::string> identifier) {
  std::lock_guard lock(mutex_);
  reuseIdentifier_ = std::move(identifier);
}

std::shared_ptr<UIView> UICollectionViewCell::contentView() {
  return uikit_internal::lazySubview(contentOnce_, mutex_, contentView_, *this, [&] {
    auto view = std::make_shared<UIView>(bounds());
    view->setOpaque(false);
    return view;
  });
}

bool UICollectionViewCell::isSelected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}
void UICollectionViewCell::setSelected(bool selected) {
  std::lock_guard lock(mutex_);
  selected_ = selected;
}

void UICollectionViewCell::prepareForReuse() { setSelected(false); }

void UICollectionViewCell::layoutSubviews() { contentView()->setFrame(bounds()); }

// Collection view --------------------------------------------------------------

UICollectionView::UICollectionView(CGRect frame, std::shared_ptr<UICollectionViewFlowLayout> layout)
    : UIScrollView(frame),
      layout_(layout ? std::move(layout) : std::make_shared<UICollectionViewFlowLayout>()),
      cells_(std::make_unique<uikit_internal::CellStore<UICollectionViewCell>>()) {
  setAlwaysBounceVertical(true);
}

UICollectionView::~UICollectionView() = default;

std::shared_ptr<UICollectionViewFlowLayout> UICollectionView::collectionViewLayout() const { return layout_; }

std::shared_ptr<UICollectionViewDataSource> UICollectionView::dataSource() const {
  std::lock_guard lock(mutex_);
  return dataSource_.lock();
}
void UICollectionView::setDataSource(const std::shared_ptr<UICollectionViewDataSource>& dataSource) {
  {
    std::lock_guard lock(mutex_);
    dataSource_ = dataSource;
    loaded_ = false;
  }
  setNeedsLayout();
}
std::shared_ptr<UICollectionViewDelegate> UICollectionView::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void UICollectionView::setDelegate(const std::shared_ptr<UICollectionViewDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

void UICollectionView::reloadData() {
  auto self = std::static_pointer_cast<UICollectionView>(selfView());
  auto source = dataSource();
  std::vector<long> counts;
  if (source && self) {
    long sections = std::max(0L, source->numberOfSectionsInCollectionView(self));
    for (long s = 0; s < sections; ++s) counts.push_back(std::max(0L, source->numberOfItemsInSection(self, s)));
  }
  {
    std::lock_guard lock(mutex_);
    itemsPerSection_ = std::move(counts);
    loaded_ = true;
  }
  computeFrames();
  cells_->recycleAll();
  layoutVisibleCells();
}

void UICollectionView::computeFrames() {
  CGFloat width = bounds().size.width;
  CGSize item = layout_->itemSize();
  CGFloat gap = layout_->minimumInteritemSpacing();
  CGFloat line = layout_->minimumLineSpacing();
  UIEdgeInsets inset = layout_->sectionInset();
  std::vector<long> counts;
  {
    std::lock_guard lock(mutex_);
    counts = itemsPerSection_;
  }
  std::vector<std::pair<NSIndexPath, CGRect>> frames;
  CGFloat available = std::max(0.0, width - inset.left - inset.right);
  long columns = item.width > 0 ? std::max(1L, static_cast<long>(std::floor((available + gap) / (item.width + gap)))) : 1;
  CGFloat y = 0;
  for (long s = 0; s < static_cast<long>(counts.size()); ++s) {
    long n = counts[static_cast<std::size_t>(s)];
    y += inset.top;
    long rows = (n + columns - 1) / columns;
    for (long i = 0; i < n; ++i) {
      long row = i / columns, column = i % columns;
      frames.push_back({{s, i},
                        {{inset.left + static_cast<CGFloat>(column) * (item.width + gap),
                          y + static_cast<CGFloat>(row) * (item.height + line)},
                         item}});
    }
    if (rows > 0) y += static_cast<CGFloat>(rows) * item.height + static_cast<CGFloat>(rows - 1) * line;
    y += inset.bottom;
  }
  {
    std::lock_guard lock(mutex_);
    frames_ = std::move(frames);
    frameWidth_ = width;
  }
  setContentSize({width, y});
}

long UICollectionView::numberOfSections() const {
  std::lock_guard lock(mutex_);
  return static_cast<long>(itemsPerSection_.size());
}

long UICollectionView::numberOfItemsInSection(long section) const {
  std::lock_guard lock(mutex_);
  if (section < 0 || section >= static_cast<long>(itemsPerSection_.size())) return 0;
  return itemsPerSection_[static_cast<std::size_t>(section)];
}

void UICollectionView::registerClassForCellWithReuseIdentifier(objc::Class* cellClass, const std::string& identifier) {
  cells_->registerClass(identifier, cellClass);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::dequeueReusableCellWithReuseIdentifier(
    const std::string& identifier, NSIndexPath) {
  return cells_->dequeueOrMake(identifier);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::cellForItemAtIndexPath(NSIndexPath indexPath) const {
  return cells_->visibleAt(indexPath);
}

std::vector<std::shared_ptr<UICollectionViewCell>> UICollectionView::visibleCells() const {
  return cells_->visibleCells();
}

std::vector<NSIndexPath> UICollectionView::indexPathsForVisibleItems() const { return cells_->visibleIndexPaths(); }

std::optional<NSIndexPath> UICollectionView::indexPathForItemAtPoint(CGPoint point) const {
  std::lock_guard lock(mutex_);
  for (const auto& [ip, frame] : frames_) {
    if (CGRectContainsPoint(frame, point)) return ip;
  }
  return std::nullopt;
}

CGRect UICollectionView::_frameForItemAtIndexPath(NSIndexPath indexPath) const {
  std::lock_guard lock(mutex_);
  for (const auto& [ip, frame] : frames_) {
    if (ip == indexPath) return frame;
  }
  return CGRectZero;
}

std::size_t UICollectionView::_reusePoolSize(const std::string& identifier) const {
  return cells_->poolSize(identifier);
}

void UICollectionView::layoutSubviews() {
  bool loaded;
  CGFloat width;
  {
    std::lock_guard lock(mutex_);
    loaded = loaded_;
    width = frameWidth_;
  }
  if (!loaded) return reloadData();
  if (width != bounds().size.width) computeFrames();
  layoutVisibleCells();
}

void UICollectionView::boundsDidChange(CGRect oldBounds, CGRect newBounds) {
  UIScrollView::boundsDidChange(oldBounds, newBounds);
  if (oldBounds.origin != newBounds.origin) setNeedsLayout();
}

void UICollectionView::layoutVisibleCells() {
  auto self = std::static_pointer_cast<UICollectionView>(selfView());
  if (!self) return;
  CGRect visible = bounds();
  std::vector<std::pair<NSIndexPath, CGRect>> wanted;
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : frames_) {
      if (CGRectIntersectsRect(entry.second, visible)) wanted.push_back(entry);
    }
  }
  auto source = dataSource();
  cells_->update(self, wanted, [&](NSIndexPath ip) -> std::shared_ptr<UICollectionViewCell> {
    return source ? source->cellForItemAtIndexPath(self, ip) : nullptr;
  });
}

void UICollectionView::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  auto ip = indexPathForItemAtPoint(touches.front()->locationInView(selfView()));
  std::lock_guard lock(mutex_);
  pressed_ = ip;
}

void UICollectionView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  std::optional<NSIndexPath> pressed;
  {
    std::lock_guard lock(mutex_);
    pressed.swap(pressed_);
  }
  if (!pressed || touches.empty()) return;
  if (indexPathForItemAtPoint(touches.front()->locationInView(selfView())) != pressed) return;
  for (const auto& cell : visibleCells()) cell->setSelected(false);
  if (auto cell = cellForItemAtIndexPath(*pressed)) cell->setSelected(true);
  if (auto del = delegate()) del->didSelectItemAtIndexPath(std::static_pointer_cast<UICollectionView>(selfView()), *pressed);
}

void UICollectionView::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  std::lock_guard lock(mutex_);
  pressed_.reset();
}
