#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_loop.h"
#include "touch_helpers.h"

namespace {

using uikittest::makeKeyWindow;

TEST(ScrollView, DragScrollsClampedToTheContent) {
  auto window = makeKeyWindow();
  auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 0, 300, 400));
  scroll->setContentSize({300, 1000});
  window->addSubview(scroll);
  auto content = std::make_shared<UIButton>(CGRectMake(0, 0, 300, 1000));
  scroll->addSubview(content);
  int buttonTaps = 0;
  content->addAction([&](auto, auto) { ++buttonTaps; }, UIControlEventTouchUpInside);

  uikittest::drag(window, {150, 300}, {150, 100});  // finger up: content moves up
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 200}));
  EXPECT_EQ(scroll->bounds().origin, (CGPoint{0, 200}));
  EXPECT_EQ(buttonTaps, 0);  // the drag took the touch from the button
  EXPECT_FALSE(scroll->isDragging());

  uikittest::drag(window, {150, 390}, {150, 0}, 8);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 590}));
  uikittest::drag(window, {150, 390}, {150, 0}, 8);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 600}));  // the end of the content
  uikittest::drag(window, {150, 0}, {150, 390}, 2);
  uikittest::drag(window, {150, 0}, {150, 390}, 2);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 0}));
  uikittest::drag(window, {250, 100}, {50, 100});  // no horizontal content: no sideways scroll
  EXPECT_EQ(scroll->contentOffset().x, 0);

  uikittest::tap(window, {100, 100});
  EXPECT_EQ(buttonTaps, 1);
  EXPECT_TRUE(scroll->gestureRecognizers().front()->isKindOfClass("UIScrollViewPanGestureRecognizer"));
}

TEST(ScrollView, ContentOffsetLivesInTheMethodTable) {
  auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 0, 100, 100));
  EXPECT_TRUE(scroll->respondsToSelector("contentOffset"));
  EXPECT_TRUE(scroll->respondsToSelector("setContentOffset:animated:"));
  objc::msgSend<void, CGPoint>(*scroll, "setContentOffset:", CGPoint{0, 30});
  EXPECT_EQ(objc::msgSend<CGPoint>(*scroll, "contentOffset"), (CGPoint{0, 30}));
  EXPECT_FALSE(std::make_shared<UIView>()->respondsToSelector("contentOffset"));
  auto plain = std::make_shared<UIView>();
  EXPECT_THROW(objc::msgSend<CGPoint>(*plain, "contentOffset"), objc::NSException);
}

TEST(ScrollView, AnimatedOffsetArrivesOnTheMainRunLoop) {
  auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 0, 100, 100));
  scroll->setContentOffset({0, 100});
  scroll->setContentOffsetAnimated({0, 300}, true);
  EXPECT_TRUE(scroll->isAnimatingScroll());
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 100}));  // not yet moved
  EXPECT_TRUE(qvtest::runMainLoopUntil([&] { return !scroll->isAnimatingScroll(); }));
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 300}));

  // A later change ends a running animation.
  scroll->setContentOffsetAnimated({0, 0}, true);
  scroll->setContentOffset({0, 50});
  EXPECT_FALSE(scroll->isAnimatingScroll());
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 50}));
}

struct Rows : UITableViewDataSource, UITableViewDelegate {
  long count = 100;
  int made = 0;
  std::vector<NSIndexPath> selected;
  long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return count; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table, NSIndexPath ip) override {
    auto cell = table->dequeueReusableCellWithIdentifier("row");
    if (!cell) {
      cell = std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, "row");
      ++made;
    }
    cell->setText("Row " + std::to_string(ip.row));
    return cell;
  }
  void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, NSIndexPath ip) override { selected.push_back(ip); }
};

TEST(TableView, OnlyVisibleRowsAreSubviewsAndCellsAreReused) {
  auto window = makeKeyWindow();
  auto table = std::make_shared<UITableView>(CGRectMake(0, 0, 320, 440));
  window->addSubview(table);
  auto rows = std::make_shared<Rows>();
  table->setDataSource(rows);
  table->setDelegate(rows);
  table->layoutIfNeeded();
  EXPECT_EQ(table->contentSize(), (CGSize{320, 4400}));
  auto cells = table->visibleCells();
  ASSERT_EQ(cells.size(), 10u);
  EXPECT_EQ(rows->made, 10);
  EXPECT_EQ(table->subviews().size(), 10u);
  EXPECT_EQ(cells[3]->text(), "Row 3");
  EXPECT_EQ(cells[3]->frame(), CGRectMake(0, 132, 320, 44));
  EXPECT_EQ(cells[3]->textLabel()->superview(), cells[3]->contentView());
  EXPECT_EQ(cells[3]->contentView()->className(), "UITableViewCellContentView");

  table->setContentOffset({0, 440});
  table->layoutIfNeeded();
  EXPECT_EQ(rows->made, 10);  // every new row came from the pool
  auto paths = table->indexPathsForVisibleRows();
  ASSERT_EQ(paths.size(), 10u);
  EXPECT_EQ(paths.front().row, 10);
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 10})->text(), "Row 10");
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), nullptr);
  // Subviews stay in row order.
  std::vector<std::string> texts;
  for (const auto& v : table->subviews()) texts.push_back(*std::dynamic_pointer_cast<UITableViewCell>(v)->text());
  EXPECT_EQ(texts.front(), "Row 10");
  EXPECT_EQ(texts.back(), "Row 19");

  table->setContentOffset({0, 22});  // half rows at both ends
  table->layoutIfNeeded();
  EXPECT_EQ(table->visibleCells().size(), 11u);
  EXPECT_EQ(table->indexPathsForVisibleRows().front().row, 0);
  EXPECT_LE(rows->made, 11);

  rows->count = 3;
  table->reloadData();
  EXPECT_EQ(table->visibleCells().size(), 3u);
  EXPECT_EQ(table->subviews().size(), 3u);
  EXPECT_GE(table->_reusePoolSize("row"), 7u);
}

TEST(TableView, TappingARowSelectsItAndDraggingDoesNot) {
  auto window = makeKeyWindow();
  auto table = std::make_shared<UITableView>(CGRectMake(0, 100, 320, 440));
  window->addSubview(table);
  auto rows = std::make_shared<Rows>();
  table->setDataSource(rows);
  table->setDelegate(rows);
  table->layoutIfNeeded();
  EXPECT_EQ(uikittest::tap(window, {100, 100 + 44 * 2 + 10})->className(), "UITableViewCellContentView");
  ASSERT_EQ(rows->selected.size(), 1u);
  EXPECT_EQ(rows->selected[0].row, 2);
  EXPECT_EQ(table->indexPathForSelectedRow()->row, 2);
  EXPECT_TRUE(table->cellForRowAtIndexPath({0, 2})->isSelected());

  uikittest::drag(window, {100, 400}, {100, 200});
  EXPECT_EQ(rows->selected.size(), 1u);
  EXPECT_EQ(table->contentOffset().y, 200);
}

TEST(TableView, RegisteredClassesMakeCells) {
  auto table = std::make_shared<UITableView>(CGRectMake(0, 0, 320, 100));
  table->registerClassForCellReuseIdentifier(UITableViewCell::classObject(), "plain");
  auto cell = table->dequeueReusableCellWithIdentifier("plain", NSIndexPath{0, 0});
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->reuseIdentifier(), "plain");
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("plain"), nullptr);  // the pool is empty
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("unknown", NSIndexPath{0, 0}), nullptr);
}

TEST(CollectionView, GridPlacesVisibleItemsAndReusesCells) {
  struct Items : UICollectionViewDataSource {
    int made = 0;
    long numberOfItemsInSection(const std::shared_ptr<UICollectionView>&, long) override { return 60; }
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const std::shared_ptr<UICollectionView>& view,
                                                                 NSIndexPath ip) override {
      auto cell = view->dequeueReusableCellWithReuseIdentifier("item", ip);
      cell->setTag(ip.row);
      return cell;
    }
  };
  objc::Class* cellClass = objc::Class::allocateClassPair(UICollectionViewCell::classObject(), "GridTestCell");
  auto window = makeKeyWindow();
  auto layout = std::make_shared<UICollectionViewFlowLayout>();
  layout->setItemSize({90, 90});
  layout->setMinimumInteritemSpacing(10);
  layout->setMinimumLineSpacing(10);
  auto grid = std::make_shared<UICollectionView>(CGRectMake(0, 0, 290, 290), layout);
  grid->registerClassForCellWithReuseIdentifier(cellClass, "item");
  window->addSubview(grid);
  auto items = std::make_shared<Items>();
  grid->setDataSource(items);
  grid->layoutIfNeeded();
  // 3 columns of 90 with 10 between; 20 rows.
  EXPECT_EQ(grid->contentSize().height, 20 * 90 + 19 * 10);
  EXPECT_EQ(grid->_frameForItemAtIndexPath({0, 4}), CGRectMake(100, 100, 90, 90));
  auto visible = grid->visibleCells();
  EXPECT_EQ(visible.size(), 9u);
  EXPECT_EQ(visible.front()->className(), "GridTestCell");
  EXPECT_EQ(grid->indexPathForItemAtPoint({150, 150})->row, 4);
  grid->setContentOffset({0, 300});
  grid->layoutIfNeeded();
  EXPECT_EQ(grid->indexPathsForVisibleItems().front().row, 9);
  EXPECT_GE(grid->_reusePoolSize("item") + grid->visibleCells().size(), 9u);
  for (const auto& cell : grid->visibleCells()) EXPECT_GE(cell->tag(), 9);
}

}  // namespace
