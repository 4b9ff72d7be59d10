#include "class_support.h"
#include "uikit/UITableView.h"

#include <algorithm>

#include "cell_store.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UITableView, UIScrollView)
QV_OBJC_DEFINE_CLASS(UITableViewCell, UIView)

// Cell -----------------------------------------------------------------------

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRectMake(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setBackgroundColor(UIColor::whiteColor());
}

std::optional<std::string> UITableViewCell::reuseIdentifier() const {
  std::lock_guard lock(mutex_);
  return reuseIdentifier_;
}

void UITableViewCell::_setReuseIdentifier(std::optional<std::string> identifier) {
  std::lock_guard lock(mutex_);
  reuseIdentifier_ = std::move(identifier);
}

UITableViewCellStyle UITableViewCell::style() const {
  std::lock_guard lock(mutex_);
  return style_;
}

std::shared_ptr<UIView> UITableViewCell::contentView() {
  return uikit_internal::lazySubview(contentOnce_, mutex_, contentView_, *this, [&] {
    auto view = std::make_shared<UIView>(bounds());
    view->setOpaque(false);
    // The platform's content view class, so that class names read as on the device.
    if (auto* cls = objc::Class::named("UITableViewCellContentView")) object_setClass(*view, cls);
    return view;
  });
}

std::shared_ptr<UILabel> UITableViewCell::textLabel() {
  return uikit_internal::lazySubview(textOnce_, mutex_, textLabel_, *contentView(), [this] {
    setNeedsLayout();  // the new label takes its place in the next pass
    return std::make_shared<UILabel>();
  });
}

std::shared_ptr<UILabel> UITableViewCell::detailTextLabel() {
  if (style() == UITableViewCellStyleDefault) return nullptr;
  return uikit_internal::lazySubview(detailOnce_, mutex_, detailTextLabel_, *contentView(), [this] {
    setNeedsLayout();  // the new label takes its place in the next pass
    auto label = std::make_shared<UILabel>();
    label->setFontSize(style() == UITableViewCellStyleSubtitle ? 12 : 17);
    label->setTextColor(UIColor::grayColor());
    return label;
  });
}

std::optional<std::string> UITableViewCell::text() const {
  std::shared_ptr<UILabel> label;
  {
    std::lock_guard lock(mutex_);
    label = textLabel_;
  }
  return label ? label->text() : std::nullopt;
}

void UITableViewCell::setText(std::optional<std::string> text) { textLabel()->setText(std::move(text)); }

bool UITableViewCell::isSelected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}
void UITableViewCell::setSelected(bool selected) {
  {
    std::lock_guard lock(mutex_);
    selected_ = selected;
  }
  setBackgroundColor(selected || isHighlighted() ? UIColor::colorWithWhite(0.85, 1) : UIColor::whiteColor());
}
bool UITableViewCell::isHighlighted() const {
  std::lock_guard lock(mutex_);
  return highlighted_;
}
void UITableViewCell::setHighlighted(bool highlighted) {
  {
    std::lock_guard lock(mutex_);
    highlighted_ = highlighted;
  }
  setBackgroundColor(highlighted || isSelected() ? UIColor::colorWithWhite(0.85, 1) : UIColor::whiteColor());
}

void UITableViewCell::prepareForReuse() {
  setSelected(false);
  setHighlighted(false);
}

void UITableViewCell::layoutSubviews() {
  CGRect b = bounds();
  auto content = contentView();
  content->setFrame(b);
  std::shared_ptr<UILabel> text, detail;
  {
    std::lock_guard lock(mutex_);
    text = textLabel_;
    detail = detailTextLabel_;
  }
  CGFloat inset = 16;
  CGRect area = CGRectMake(inset, 0, std::max(0.0, b.size.width - 2 * inset), b.size.height);
  if (detail && style() == UITableViewCellStyleSubtitle) {
    if (text) text->setFrame({area.origin, {area.size.width, area.size.height * 0.6}});
    detail->setFrame({{area.origin.x, area.size.height * 0.6}, {area.size.width, area.size.height * 0.4}});
  } else if (detail) {
    if (text) text->setFrame({area.origin, {area.size.width / 2, area.size.height}});
    detail->setFrame({{area.origin.x + area.size.width / 2, 0}, {area.size.width / 2, area.size.height}});
    detail->setTextAlignment(NSTextAlignmentRight);
  } else if (text) {
    text->setFrame(area);
  }
}

// A runtime class for the cell's content view (a plain view).
[[maybe_unused]] static objc::Class* const kContentViewClass =
    objc::Class::allocateClassPair(UIView::classObject(), "UITableViewCellContentView");

// Table ----------------------------------------------------------------------

UITableView::UITableView(CGRect frame)
    : UIScrollView(frame), cells_(std::make_unique<uikit_internal::CellStore<UITableViewCell>>()) {
  setAlwaysBounceVertical(true);
  setBackgroundColor(UIColor::whiteColor());
}

UITableView::~UITableView() = default;

std::shared_ptr<UITableViewDataSource> UITableView::dataSource() const {
  std::lock_guard lock(mutex_);
  return dataSource_.lock();
}
void UITableView::setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource) {
  {
    std::lock_guard lock(mutex_);
    dataSource_ = dataSource;
    loaded_ = false;
  }
  setNeedsLayout();
}
std::shared_ptr<UITableViewDelegate> UITableView::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void UITableView::setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate) {
  {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
    loaded_ = false;
  }
  setNeedsLayout();
}

CGFloat UITableView::rowHeight() const {
  std::lock_guard lock(mutex_);
  return rowHeight_;
}
void UITableView::setRowHeight(CGFloat height) {
  {
    std::lock_guard lock(mutex_);
    rowHeight_ = std::max(0.0, height);
    loaded_ = false;
  }
  setNeedsLayout();
}

void UITableView::reloadData() {
  auto self = std::static_pointer_cast<UITableView>(selfView());
  auto source = dataSource();
  auto del = delegate();
  CGFloat defaultHeight = rowHeight();
  std::vector<long> counts;
  std::vector<Row> rows;
  CGFloat y = 0;
  if (source && self) {
    long sections = std::max(0L, source->numberOfSectionsInTableView(self));
    for (long s = 0; s < sections; ++s) {
      long n = std::max(0L, source->numberOfRowsInSection(self, s));
      counts.push_back(n);
      for (long r = 0; r < n; ++r) {
        NSIndexPath ip{s, r};
        CGFloat h = defaultHeight;
        if (del) h = std::max(0.0, del->heightForRowAtIndexPath(self, ip).value_or(defaultHeight));
        rows.push_back({ip, y, h});
        y += h;
      }
    }
  }
  {
    std::lock_guard lock(mutex_);
    rowsPerSection_ = std::move(counts);
    rows_ = std::move(rows);
    loaded_ = true;
    if (selected_ && !std::any_of(rows_.begin(), rows_.end(), [&](const Row& r) { return r.indexPath == *selected_; })) {
      selected_.reset();
    }
  }
  setContentSize({bounds().size.width, y});
  cells_->recycleAll();
  layoutVisibleCells();
}

long UITableView::numberOfSections() const {
  std::lock_guard lock(mutex_);
  return static_cast<long>(rowsPerSection_.size());
}

long UITableView::numberOfRowsInSection(long section) const {
  std::lock_guard lock(mutex_);
  if (section < 0 || section >= static_cast<long>(rowsPerSection_.size())) return 0;
  return rowsPerSection_[static_cast<std::size_t>(section)];
}

void UITableView::registerClassForCellReuseIdentifier(objc::Class* cellClass, const std::string& identifier) {
  cells_->registerClass(identifier, cellClass);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  return cells_->dequeue(identifier);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                                NSIndexPath) {
  return cells_->dequeueOrMake(identifier);
}

std::size_t UITableView::_reusePoolSize(const std::string& identifier) const { return cells_->poolSize(identifier); }

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(NSIndexPath indexPath) const {
  return cells_->visibleAt(indexPath);
}

std::vector<std::shared_ptr<UITableViewCell>> UITableView::visibleCells() const { return cells_->visibleCells(); }

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() const { return cells_->visibleIndexPaths(); }

std::optional<NSIndexPath> UITableView::indexPathForCell(const std::shared_ptr<UITableViewCell>& cell) const {
  return cells_->indexPathOf(cell);
}

std::vector<UITableView::Row>::const_iterator UITableView::firstRowEndingBelow(CGFloat y) const {
  // Rows follow each other with heights of zero or more, so their ends never
  // decrease and the first one past `y` is found by bisection.
  return std::partition_point(rows_.begin(), rows_.end(), [y](const Row& row) { return row.y + row.height <= y; });
}

std::optional<NSIndexPath> UITableView::indexPathAt(CGPoint point) const {
  std::lock_guard lock(mutex_);
  auto row = firstRowEndingBelow(point.y);
  if (row != rows_.end() && point.y >= row->y) return row->indexPath;
  return std::nullopt;
}

std::optional<NSIndexPath> UITableView::indexPathForRowAtPoint(CGPoint point) const { return indexPathAt(point); }

CGRect UITableView::rectForRowAtIndexPath(NSIndexPath indexPath) const {
  CGFloat width = bounds().size.width;
  std::lock_guard lock(mutex_);
  for (const auto& row : rows_) {
    if (row.indexPath == indexPath) return {{0, row.y}, {width, row.height}};
  }
  return CGRectZero;
}

std::optional<NSIndexPath> UITableView::indexPathForSelectedRow() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void UITableView::selectRowAtIndexPath(std::optional<NSIndexPath> indexPath, bool) {
  std::optional<NSIndexPath> old;
  {
    std::lock_guard lock(mutex_);
    old = selected_;
    selected_ = indexPath;
  }
  if (old) {
    if (auto cell = cellForRowAtIndexPath(*old)) cell->setSelected(false);
  }
  if (indexPath) {
    if (auto cell = cellForRowAtIndexPath(*indexPath)) cell->setSelected(true);
  }
}

void UITableView::deselectRowAtIndexPath(NSIndexPath indexPath, bool) {
  {
    std::lock_guard lock(mutex_);
    if (selected_ == indexPath) selected_.reset();
  }
  if (auto cell = cellForRowAtIndexPath(indexPath)) cell->setSelected(false);
}

void UITableView::scrollToRowAtIndexPath(NSIndexPath indexPath, bool animated) {
  CGRect row = rectForRowAtIndexPath(indexPath);
  CGPoint hi = _maximumContentOffset();
  setContentOffsetAnimated({contentOffset().x, std::clamp(row.origin.y, _minimumContentOffset().y, hi.y)}, animated);
}

void UITableView::layoutSubviews() {
  bool loaded;
  {
    std::lock_guard lock(mutex_);
    loaded = loaded_;
  }
  if (!loaded) {
    reloadData();
  } else {
    layoutVisibleCells();
  }
}

void UITableView::boundsDidChange(CGRect oldBounds, CGRect newBounds) {
  UIScrollView::boundsDidChange(oldBounds, newBounds);
  if (oldBounds.origin != newBounds.origin) setNeedsLayout();
}

void UITableView::layoutVisibleCells() {
  auto self = std::static_pointer_cast<UITableView>(selfView());
  if (!self) return;
  CGRect visible = bounds();
  std::vector<std::pair<NSIndexPath, CGRect>> wanted;
  std::optional<NSIndexPath> selected;
  {
    std::lock_guard lock(mutex_);
    for (auto row = firstRowEndingBelow(visible.origin.y);
         row != rows_.end() && row->y < visible.origin.y + visible.size.height; ++row) {
      if (row->height <= 0) continue;
      wanted.push_back({row->indexPath, {{0, row->y}, {visible.size.width, row->height}}});
    }
    selected = selected_;
  }
  auto source = dataSource();
  cells_->update(self, wanted, [&](NSIndexPath ip) -> std::shared_ptr<UITableViewCell> {
    if (!source) return nullptr;
    auto cell = source->cellForRowAtIndexPath(self, ip);
    if (cell) cell->setSelected(selected && *selected == ip);
    return cell;
  });
}

void UITableView::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  auto ip = indexPathAt(touches.front()->locationInView(selfView()));
  {
    std::lock_guard lock(mutex_);
    pressed_ = ip;
  }
  if (ip) {
    if (auto cell = cellForRowAtIndexPath(*ip)) cell->setHighlighted(true);
  }
}

void UITableView::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  std::optional<NSIndexPath> pressed;
  {
    std::lock_guard lock(mutex_);
    pressed.swap(pressed_);
  }
  if (!pressed || touches.empty()) return;
  if (auto cell = cellForRowAtIndexPath(*pressed)) cell->setHighlighted(false);
  if (indexPathAt(touches.front()->locationInView(selfView())) != pressed) return;
  selectRowAtIndexPath(pressed, false);
  if (auto del = delegate()) del->didSelectRowAtIndexPath(std::static_pointer_cast<UITableView>(selfView()), *pressed);
}

void UITableView::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  std::optional<NSIndexPath> pressed;
  {
    std::lock_guard lock(mutex_);
    pressed.swap(pressed_);
  }
  if (pressed) {
    if (auto cell = cellForRowAtIndexPath(*pressed)) cell->setHighlighted(false);
  }
}
