// Figures of element finding and of the polling hook's inventory walk on screens of
// 100, 1,000 and 10,000 views:
//   - "findelements" by text through the native interpreter (median, p99), and the
//     round trip of the same command through the playback server on 127.0.0.1:9898
//     (a client thread sends, the main run loop runs the handler);
//   - the first playback walk over views that have no GUID yet (GUIDs attached,
//     xpaths registered) and the steady walk;
//   - one polling cycle (the recording walk) on its own thread, and what the main
//     thread pays for it: the time of a fixed piece of main-thread work (hit tests
//     and a frame change) with and without polling cycles running beside it, and,
//     for scale, beside a loop that shares nothing with it (what the machine alone
//     takes from the main thread while the other core is busy).
// A flat screen (every view a sibling of every other) shows the cost of the xpath
// index, which counts same-class siblings for every registration.
// Prints figures only.
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BenchTiming.h"
#include "Goals.h"
#include "quorvel/bootstrap/RecordControl.h"
#include "quorvel/channel/TcpChannel.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "uikit/uikit.h"

namespace {

using bench::print;
using bench::sample;

// A screen of `views` views below the window (the target button included): rows of
// ten (eight labels, a switch, a button) under one container, or, flat, every view
// directly under the container.
std::shared_ptr<UIWindow> makeScreen(int views, bool flat) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
  window->addSubview(container);
  int made = 1;
  int row = 0;
  while (made < views - 1) {
    std::shared_ptr<UIView> parent = container;
    if (!flat) {
      parent = std::make_shared<UIView>(CGRectMake(0, (row % 80) * 10, 390, 10));
      container->addSubview(parent);
      ++made;
    }
    for (int i = 0; i < 9 && made < views - 1; ++i, ++made) {
      auto label = std::make_shared<UILabel>(CGRectMake(i * 40, 0, 40, 10));
      label->setText("Item " + std::to_string(row) + "." + std::to_string(i));
      parent->addSubview(label);
    }
    ++row;
  }
  auto target = std::make_shared<UIButton>(CGRectMake(20, 780, 120, 40));
  target->setTitle(std::string("Target"), UIControlStateNormal);
  container->addSubview(target);
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  return window;
}

JSONValue findByText(const std::string& text) {
  auto call = std::make_shared<FunctionCallObject>();
  call->setFunctionName(std::string("findelements"));
  call->setTagName(std::string(""));
  call->setAccessorType(std::string("text"));
  call->setAccessorValue(text);
  return std::make_shared<UIViewFinder>()->parseFunctionCallObject(call);
}

int countViews(const std::shared_ptr<UIView>& root) {
  int n = 0;
  UIViewsManager::walkSubviewsInPreOrder(root, [&n](auto&, auto&, auto&) { return ++n, true; });
  return n;
}

// A fixed piece of main-thread work: 200 hit tests and a frame change.
void mainThreadWork(const std::shared_ptr<UIWindow>& window, int i) {
  for (int k = 0; k < 200; ++k) window->hitTest(CGPointMake((k * 37) % 390, (k * 53) % 844), nullptr);
  auto container = window->subviews().front();
  container->setFrame(CGRectMake(0, i % 2, 390, 844));
}

void benchScreen(int views, bool flat, bench::Goals& goals) {
  auto window = makeScreen(views, flat);
  const char* shape = flat ? "flat" : "rows";
  int iterations = views >= 10000 ? 30 : views >= 1000 ? 100 : 300;

  std::printf("%s screen, %d views\n", shape, countViews(window));
  auto firstWalk = sample(1, [&] { std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true); });
  print("playback walk, first (GUIDs and xpaths)", firstWalk);
  print("playback walk, steady", sample(iterations, [&] {
          std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true);
        }));
  auto interpreter = sample(iterations, [&] {
    if (findByText("Target").empty()) std::abort();  // the button and its title label
  });
  print("findelements by text (interpreter)", interpreter);
  auto firstCycle = sample(1, [] { RecordControl::pollingCycle(); });
  print("polling cycle, first (recording GUIDs)", firstCycle);
  print("polling cycle, steady (its own thread)", sample(iterations, [] { RecordControl::pollingCycle(); }));

  // What the main thread pays: the cycle never waits on the main thread, so the only
  // cost is sharing the views' locks and the processor with the walk.
  auto alone = sample(iterations * 3, [&, i = 0]() mutable { mainThreadWork(window, i++); });
  print("main-thread work, alone", alone);
  // The cycles run back to back where the polling hook runs them: on the global
  // queue of background priority.
  std::atomic<bool> stop{false}, stopped{false};
  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [&] {
    while (!stop) RecordControl::pollingCycle();
    stopped = true;
  });
  auto beside = sample(iterations * 3, [&, i = 0]() mutable { mainThreadWork(window, i++); });
  print("main-thread work, polling cycles beside it", beside);
  stop = true;
  while (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The control: the same work beside a loop that shares nothing with it (its own
  // memory, as large as the views), on the same queue. What the machine itself
  // takes from the main thread when the other core is busy.
  stop = false;
  stopped = false;
  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [&] {
    std::vector<std::array<std::uint64_t, sizeof(UIView) / 8>> own(static_cast<std::size_t>(countViews(window)));
    while (!stop) {
      for (auto& block : own) {
        for (auto& word : block) word = word * 31 + 7;
      }
    }
    stopped = true;
  });
  auto control = sample(iterations * 3, [&, i = 0]() mutable { mainThreadWork(window, i++); });
  print("main-thread work, unrelated work beside it", control);
  stop = true;
  while (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  if (!flat) {
    const int shown = countViews(window);
    auto cpuNote = [](const bench::Samples& s) {
      char text[64];
      std::snprintf(text, sizeof text, "(processor time %.3f ms)", bench::stats(s.cpu).median);
      return std::string(text);
    };
    if (views >= 10000) {
      goals.atMost("interpreter alone, findelements by text, " + std::to_string(shown) + " views",
                   bench::stats(interpreter.wall).median, 2.5, "ms", cpuNote(interpreter));
      goals.atMost("first playback walk (GUIDs and xpaths), " + std::to_string(shown) + " views",
                   bench::stats(firstWalk.wall).median, 15, "ms", cpuNote(firstWalk));
      goals.atMost("first recording polling cycle, " + std::to_string(shown) + " views",
                   bench::stats(firstCycle.wall).median, 15, "ms", cpuNote(firstCycle));
    }
    const double slowdown = 100 * (bench::stats(beside.wall).median / bench::stats(alone.wall).median - 1);
    char note[128];
    std::snprintf(note, sizeof note, "(processor time %+.1f %%; beside unrelated work %+.1f %%)",
                  100 * (bench::stats(beside.cpu).median / bench::stats(alone.cpu).median - 1),
                  100 * (bench::stats(control.wall).median / bench::stats(alone.wall).median - 1));
    goals.atMost("main-thread work slowed by polling cycles beside it, " + std::to_string(shown) + " views", slowdown, 5,
                 "%", note);
  }
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
  window->setHidden(true);
}

// The round trip of "findelements" through the playback server: the request and
// reply bytes, the handler's hop to the main queue and the interpreter.
void benchRoundTrip(int views, bench::Goals& goals) {
  auto window = makeScreen(views, false);
  int iterations = views >= 10000 ? 30 : views >= 1000 ? 100 : 300;
  const std::string request = R"({"functionname":"findelements","tagname":"","accessortype":"text","accessorvalue":"Target"})";
  // The first request on a new screen also gives every view its GUID and xpath; it
  // is reported on its own so that it does not pose as the steady tail.
  auto trips = bench::roundTrips(request, iterations,
                                 [](const std::string& reply) { return reply.find("elementID") != std::string::npos; });
  if (!trips.failure.empty()) {
    std::printf("rows screen, %d views: round trip failed: %s\n", countViews(window), trips.failure.c_str());
  } else {
    auto wall = bench::stats(trips.wall);
    std::printf("rows screen, %d views\n    %-44s wall %9.3f ms\n    %-44s wall median %9.3f ms  p99 %9.3f ms\n",
                countViews(window), "findelements round trip, first on the screen", trips.firstMs,
                "findelements round trip (playback port)", wall.median, wall.p99);
    if (views >= 1000) {
      goals.atMost("findelements round trip through 9898, rows screen, " + std::to_string(countViews(window)) + " views",
                   wall.median, views >= 10000 ? 3 : 1, "ms");
    }
  }
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
  window->setHidden(true);
}

}  // namespace

// With the argument "roundtrip" only the figures through the playback server; with
// "firstwalk" only the first walks of the rows screen of 10,001 views (a short run to
// profile).
int main(int argc, char** argv) {
  bench::Goals goals;
  if (argc >= 2 && std::string(argv[1]) == "firstwalk") {
    auto window = makeScreen(10000, false);
    // Page faults beside the times: the registrations are new memory.
    auto faults = [] {
      rusage usage{};
      getrusage(RUSAGE_THREAD, &usage);
      return usage.ru_minflt;
    };
    long before = faults();
    print("playback walk, first (GUIDs and xpaths)",
          sample(1, [&] { std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(window, true); }));
    std::printf("      page faults %ld\n", faults() - before);
    before = faults();
    print("polling cycle, first (recording GUIDs)", sample(1, [] { RecordControl::pollingCycle(); }));
    std::printf("      page faults %ld\n", faults() - before);
    return 0;
  }
  if (argc < 2 || std::string(argv[1]) != "roundtrip") {
    std::printf("In-process figures (the interpreter called directly on the main thread).\n");
    for (int views : {100, 1000, 10000}) benchScreen(views, false, goals);
    for (int views : {100, 1000, 10000}) benchScreen(views, true, goals);
  }

  // Last, because the first playback request stops the polling hook's walks for
  // the rest of the process.
  std::printf("\nThrough the playback server.\n");
  std::make_shared<TcpChannel>()->start();
  for (int views : {100, 1000, 10000}) benchRoundTrip(views, goals);
  goals.print();
  return 0;
}
