// A one-column list of rows over a scroll view. The data source gives the counts
// and the cells; only the cells of visible rows are subviews (in row order),
// placed when the table lays out (after reloadData, scrolling or resizing). Cells
// that scroll away go to a reuse pool by identifier and come back from
// dequeueReusableCellWithIdentifier. A tap on a row selects it and tells the
// delegate. The data source and delegate are held weakly, as on the device.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/NSIndexPath.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableViewCell.h"

class UITableView;
namespace uikit_internal {
template <class Cell>
class CellStore;
}

class UITableViewDataSource {
 public:
  virtual ~UITableViewDataSource() = default;
  virtual long numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) { return 1; }
  virtual long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) = 0;
  virtual std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                 NSIndexPath indexPath) = 0;
};

class UITableViewDelegate {
 public:
  virtual ~UITableViewDelegate() = default;
  // Absent: the table's rowHeight.
  virtual std::optional<CGFloat> heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, NSIndexPath) {
    return std::nullopt;
  }
  virtual void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, NSIndexPath) {}
};

class UITableView : public UIScrollView {
  QV_OBJC_DECLARE_CLASS(UITableView)
 public:
  explicit UITableView(CGRect frame = CGRectZero);
  ~UITableView() override;

  std::shared_ptr<UITableViewDataSource> dataSource() const;
  void setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource);
  std::shared_ptr<UITableViewDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate);

  CGFloat rowHeight() const;  // 44 by default
  void setRowHeight(CGFloat height);

  // Reads the counts and heights again and re-lays out the visible rows.
  void reloadData();
  long numberOfSections() const;
  long numberOfRowsInSection(long section) const;

  // registerClass:forCellReuseIdentifier: — the runtime class (a UITableViewCell
  // class or subclass) that dequeueReusableCellWithIdentifier:forIndexPath: makes.
  void registerClassForCellReuseIdentifier(objc::Class* cellClass, const std::string& identifier);
  // A cell from the reuse pool (prepared for reuse), or nullptr.
  std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  // A pooled cell, else a new one of the registered class; nullptr when neither.
  std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                     NSIndexPath indexPath);

  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(NSIndexPath indexPath) const;  // visible only
  std::vector<std::shared_ptr<UITableViewCell>> visibleCells() const;  // in row order
  std::vector<NSIndexPath> indexPathsForVisibleRows() const;
  std::optional<NSIndexPath> indexPathForCell(const std::shared_ptr<UITableViewCell>& cell) const;
  std::optional<NSIndexPath> indexPathForRowAtPoint(CGPoint point) const;  // table coordinates
  CGRect rectForRowAtIndexPath(NSIndexPath indexPath) const;
  std::optional<NSIndexPath> indexPathForSelectedRow() const;
  void selectRowAtIndexPath(std::optional<NSIndexPath> indexPath, bool animated);
  void deselectRowAtIndexPath(NSIndexPath indexPath, bool animated);
  void scrollToRowAtIndexPath(NSIndexPath indexPath, bool animated);

  void layoutSubviews() override;
  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

  std::size_t _reusePoolSize(const std::string& identifier) const;

 protected:
  void boundsDidChange(CGRect oldBounds, CGRect newBounds) override;

 private:
  struct Row {
    NSIndexPath indexPath;
    CGFloat y;
    CGFloat height;
  };
  void layoutVisibleCells();
  std::optional<NSIndexPath> indexPathAt(CGPoint point) const;
  // The first row whose bottom lies below `y`; the caller holds mutex_.
  std::vector<Row>::const_iterator firstRowEndingBelow(CGFloat y) const;

  std::weak_ptr<UITableViewDataSource> dataSource_;
  std::weak_ptr<UITableViewDelegate> delegate_;
  CGFloat rowHeight_ = 44.0;
  std::vector<long> rowsPerSection_;
  std::vector<Row> rows_;  // every row, in order
  std::unique_ptr<uikit_internal::CellStore<UITableViewCell>> cells_;
  std::optional<NSIndexPath> selected_;
  std::optional<NSIndexPath> pressed_;
  bool loaded_ = false;
};
