// A row or item position in a sectioned list (table and collection views).
#pragma once

#include <compare>

struct NSIndexPath {
  long section = 0;
  long row = 0;  // also the item index of a collection view

  long item() const { return row; }
  static NSIndexPath indexPathForRow(long row, long section) { return {section, row}; }
  static NSIndexPath indexPathForItem(long item, long section) { return {section, item}; }
  friend auto operator<=>(const NSIndexPath&, const NSIndexPath&) = default;
};
