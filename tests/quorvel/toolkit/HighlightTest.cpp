#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"
#include "wait.h"

namespace {

using namespace UIView_ToolkitAdditions;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Border {
  CGFloat width;
  CGColorRef color;
};

Border borderOf(const std::shared_ptr<UIView>& view) {
  return {view->layer()->borderWidth(), view->layer()->borderColor()};
}

bool hasBorder(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color) {
  auto b = borderOf(view);
  return b.width == width && CGColorEqualToColor(b.color, color);
}

std::shared_ptr<UIView> viewWithBorder(CGFloat width, const CGColorRef& color) {
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 50, 50));
  view->layer()->setBorderWidth(width);
  view->layer()->setBorderColor(color);
  return view;
}

const CGColorRef kGreen = CGColorCreateSRGB(0, 1, 0, 1);
const CGColorRef kRed = CGColorCreateSRGB(1, 0, 0, 1);
const CGColorRef kBlue = CGColorCreateSRGB(0, 0, 1, 1);

TEST(HighlightTest, GreenFourPointBorderThatGoesBackAfterASecond) {
  auto view = viewWithBorder(2.0, kRed);
  auto start = Clock::now();
  highlightView(view);
  EXPECT_TRUE(hasBorder(view, 4.0, kGreen));
  EXPECT_TRUE(TK_hasHighlightBorder(view));
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(view, 2.0, kRed); }));
  EXPECT_GE(Clock::now() - start, 1s);
  EXPECT_FALSE(TK_hasHighlightBorder(view));
}

TEST(HighlightTest, TheMarkingIsTheWidthTogetherWithTheColour) {
  EXPECT_TRUE(TK_hasHighlightBorder(viewWithBorder(4.0, CGColorCreateSRGB(0, 1, 0, 1))));
  EXPECT_FALSE(TK_hasHighlightBorder(viewWithBorder(4.0, kBlue)));
  EXPECT_FALSE(TK_hasHighlightBorder(viewWithBorder(3.0, kGreen)));
  EXPECT_FALSE(TK_hasHighlightBorder(viewWithBorder(4.0, CGColorCreateSRGB(0, 1, 0, 0.5))));
  EXPECT_FALSE(TK_hasHighlightBorder(nullptr));
  highlightView(nullptr);  // nothing to mark
  deHighlightView(nullptr);
  deHighlightView(nullptr, 1.0, kRed);
}

TEST(HighlightTest, DeHighlightShowsOnePointInTheCurrentColourThenGoesBack) {
  auto view = viewWithBorder(0.0, kBlue);
  deHighlightView(view);
  EXPECT_TRUE(hasBorder(view, 1.0, kBlue));
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(view, 0.0, kBlue); }));

  // On a highlighted view it leaves the green colour and puts back the 4.0 width.
  auto marked = viewWithBorder(4.0, kGreen);
  deHighlightView(marked);
  EXPECT_TRUE(hasBorder(marked, 1.0, kGreen));
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(marked, 4.0, kGreen); }));
}

TEST(HighlightTest, SetBorderSetsNowAndAgainAfterASecond) {
  auto view = viewWithBorder(4.0, kGreen);
  deHighlightView(view, 3.0, kBlue);
  EXPECT_TRUE(hasBorder(view, 3.0, kBlue));
  // A change in between is overwritten by the second setting.
  view->layer()->setBorderWidth(7.0);
  view->layer()->setBorderColor(kRed);
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(view, 3.0, kBlue); }));
}

TEST(HighlightTest, TwoOverlappingHighlightsLeaveTheViewHighlighted) {
  auto view = viewWithBorder(2.0, kRed);
  auto first = Clock::now();
  highlightView(view);
  // The second call comes while the first restore is pending, far enough apart to
  // see the first restore on its own.
  qvtest::waitUntil([&] { return Clock::now() - first >= 200ms; });
  highlightView(view);
  // The first restore puts back red; the second puts back the green that it read.
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(view, 2.0, kRed); }, 3s));
  ASSERT_TRUE(qvtest::waitUntil([&] { return hasBorder(view, 4.0, kGreen); }, 3s));
  EXPECT_TRUE(TK_hasHighlightBorder(view));
}

TEST(HighlightTest, APendingRestoreKeepsTheViewAlive) {
  std::weak_ptr<UIView> weak;
  {
    auto view = viewWithBorder(1.0, kRed);
    weak = view;
    highlightView(view);
  }
  EXPECT_FALSE(weak.expired());
  EXPECT_TRUE(qvtest::waitUntil([&] { return weak.expired(); }));
}

// The inventory walk de-highlights from its background thread while the main
// thread highlights the same views; every restore runs and lets its view go.
TEST(HighlightTest, CallsFromSeveralThreadsAtOnce) {
  std::vector<std::shared_ptr<UIView>> views;
  for (int i = 0; i < 8; ++i) views.push_back(viewWithBorder(1.0, kBlue));
  std::thread walker([&] {
    for (int round = 0; round < 50; ++round) {
      for (const auto& v : views) {
        if (TK_hasHighlightBorder(v)) deHighlightView(v);
      }
    }
  });
  for (int round = 0; round < 50; ++round) {
    for (const auto& v : views) highlightView(v);
  }
  walker.join();
  std::vector<std::weak_ptr<UIView>> weak(views.begin(), views.end());
  views.clear();
  EXPECT_TRUE(qvtest::waitUntil([&] {
    for (const auto& w : weak) {
      if (!w.expired()) return false;
    }
    return true;
  }));
}

}  // namespace

namespace {

// The inventory walks pass every view about five times a second and clear left-over
// markings. A fresh highlight must still come off after its second, and not blink.
TEST(HighlightTest, WalkClearingDuringAHighlightDoesNotMakeItPermanent) {
  auto view = viewWithBorder(2.0, kRed);
  highlightView(view);
  TK_clearStaleHighlight(*view);  // a walk while the highlight's restore is pending
  EXPECT_TRUE(hasBorder(view, 4.0, kGreen));
  EXPECT_TRUE(TK_hasPendingHighlightRestore(view));
  ASSERT_TRUE(qvtest::waitUntil([&] {
    TK_clearStaleHighlight(*view);
    return hasBorder(view, 2.0, kRed);
  }));
  EXPECT_FALSE(TK_hasPendingHighlightRestore(view));
  // Walks keep passing for longer than any restore delay: the border stays put.
  auto until = Clock::now() + 1500ms;
  while (Clock::now() < until) {
    TK_clearStaleHighlight(*view);
    ASSERT_TRUE(hasBorder(view, 2.0, kRed));
    std::this_thread::sleep_for(50ms);  // the walk's pace, not a wait for a condition
  }
}

TEST(HighlightTest, WalkReplacesAMarkingLeftForGoodByTheOriginalBorder) {
  auto view = viewWithBorder(2.0, kRed);
  highlightView(view);
  highlightView(view);  // the second restore puts the marking back for good
  ASSERT_TRUE(qvtest::waitUntil([&] { return !TK_hasPendingHighlightRestore(view); }, 5s));
  EXPECT_TRUE(hasBorder(view, 4.0, kGreen));
  TK_clearStaleHighlight(*view);
  EXPECT_TRUE(hasBorder(view, 2.0, kRed));
  auto until = Clock::now() + 1500ms;
  while (Clock::now() < until) {
    TK_clearStaleHighlight(*view);
    ASSERT_TRUE(hasBorder(view, 2.0, kRed));
    std::this_thread::sleep_for(50ms);
  }
}

TEST(HighlightTest, WhatIsRememberedOfAHighlightGoesWithItsView) {
  // A view left highlighted for good (its original border remembered), then freed
  // once its restores have run.
  auto view = viewWithBorder(2.0, kRed);
  highlightView(view);
  highlightView(view);
  ASSERT_TRUE(qvtest::waitUntil([&] { return !TK_hasPendingHighlightRestore(view) && view.use_count() == 1; }, 5s));
  const void* address = view.get();
  view.reset();
  // A new view at the same address, marked by someone else, is de-highlighted as
  // usual: it is not given the freed view's remembered border.
  std::vector<std::shared_ptr<UIView>> others;
  std::shared_ptr<UIView> reused;
  for (int i = 0; i < 10000 && !reused; ++i) {
    auto candidate = viewWithBorder(4.0, kGreen);
    if (candidate.get() == address) {
      reused = candidate;
    } else {
      others.push_back(candidate);  // kept, so that the next view lands elsewhere
    }
  }
  if (!reused) GTEST_SKIP() << "the allocator gave no view the freed address";
  EXPECT_FALSE(TK_hasPendingHighlightRestore(reused));
  TK_clearStaleHighlight(*reused);
  EXPECT_TRUE(hasBorder(reused, 1.0, kGreen));
}

TEST(HighlightTest, WalkDeHighlightsAMarkingItDidNotDraw) {
  auto view = viewWithBorder(4.0, kGreen);  // drawn by someone else
  TK_clearStaleHighlight(*view);
  EXPECT_TRUE(hasBorder(view, 1.0, kGreen));  // the usual de-highlight
}

}  // namespace
