#include <string>

#include "Screens.h"

QV_OBJC_DEFINE_CLASS(ListViewController, UIViewController)
QV_OBJC_DEFINE_CLASS(DetailViewController, UIViewController)

class ListDataSource : public UITableViewDataSource, public UITableViewDelegate {
 public:
  explicit ListDataSource(std::weak_ptr<UIViewController> owner) : owner_(std::move(owner)) {}

  long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return ListViewController::kRowCount; }

  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                         NSIndexPath indexPath) override {
    auto cell = table->dequeueReusableCellWithIdentifier("row");
    if (!cell) cell = std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, "row");
    std::string number = std::to_string(indexPath.row + 1);
    cell->setText("Row " + number);
    cell->setAccessibilityIdentifier("row" + number);
    return cell;
  }

  void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& table, NSIndexPath indexPath) override {
    table->deselectRowAtIndexPath(indexPath, false);
    auto owner = owner_.lock();
    if (auto navigation = owner ? owner->navigationController() : nullptr) {
      navigation->pushViewController(std::make_shared<DetailViewController>(indexPath.row + 1), true);
    }
  }

 private:
  std::weak_ptr<UIViewController> owner_;
};

void ListViewController::viewDidLoad() {
  auto root = view();
  CGRect bounds = root->bounds();
  // The table is as tall as all its rows, so every row is a view; the clipping
  // scroll view around it shows a screenful and scrolls to the rest.
  auto scroll = std::make_shared<UIScrollView>(bounds);
  scroll->setAccessibilityIdentifier("listScroll");
  scroll->setAlwaysBounceVertical(true);
  root->addSubview(scroll);

  source_ = std::make_shared<ListDataSource>(std::static_pointer_cast<UIViewController>(shared_from_this()));
  auto table = std::make_shared<UITableView>(CGRectMake(0, 0, bounds.size.width, 44.0 * kRowCount));
  table->setAccessibilityIdentifier("itemsTable");
  table->setScrollEnabled(false);
  table->setDataSource(source_);
  table->setDelegate(source_);
  scroll->addSubview(table);
  scroll->setContentSize({bounds.size.width, 44.0 * kRowCount});
  table->reloadData();
}

void DetailViewController::viewDidLoad() {
  setTitle("Row " + std::to_string(row_));
  auto root = view();
  auto label = sample::makeLabel(CGRectMake(20, 40, root->bounds().size.width - 40, 30),
                                 "You picked row " + std::to_string(row_), "detailLabel");
  root->addSubview(label);
}
