// Figures of "ai_findelements" on screens of 100 and 1,000 views, and where its time
// goes:
//   - in-process on the main thread: the whole command, and apart its stages: the
//     visible-view list, rendering every described view, JPEG, Base64, the rest of
//     the descriptions (traits, rectangle, element cache), the JSON text of the reply;
//     and the command without image encoding (list and descriptions only);
//   - through the playback server on 127.0.0.1:9898 (a client thread sends, the main
//     run loop runs the handler): the round trip with images, and the transport of
//     a reply of the same size on its own, measured with "gettext" on a label that
//     holds a text that long (socket, framing, the hop to the main queue);
//   - the round trip without image encoding, as the sum of its measured parts.
// Prints figures only.
#include <cstdio>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "Goals.h"
#include "foundation/data.h"
#include "quorvel/channel/TcpChannel.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/playback/AiAPI.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/uikit.h"

namespace {

using bench::print;
using bench::sample;
using bench::Samples;

// The agent's JPEG quality for view images.
constexpr CGFloat kJPEGQuality = 0.6;

// A screen of about `views` views, all inside the window's frame: rows (one view
// each) of a label, a button (with its title label), a text field, an image view
// and a label again, under one full-screen container.
std::shared_ptr<UIWindow> makeScreen(int views) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  window->setBackgroundColor(UIColor::whiteColor());
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
  window->addSubview(container);
  constexpr int kPerRow = 7;  // the row, five children, the button's title label
  const int rows = std::max(1, (views - 1) / kPerRow);
  const double height = 800.0 / rows;
  auto pixels = std::make_shared<UIImage>(16, 16, 2.0);
  for (int row = 0; row < rows; ++row) {
    auto line = std::make_shared<UIView>(CGRectMake(0, row * height, 390, height));
    line->setBackgroundColor(row % 2 ? UIColor::lightGrayColor() : UIColor::whiteColor());
    container->addSubview(line);
    auto name = std::make_shared<UILabel>(CGRectMake(4, 0, 90, height));
    name->setText("Item " + std::to_string(row));
    auto button = std::make_shared<UIButton>(CGRectMake(98, 0, 70, height));
    button->setTitle(std::string("Open"), UIControlStateNormal);
    button->setBackgroundColor(UIColor::systemBlueColor());
    auto field = std::make_shared<UITextField>(CGRectMake(172, 0, 100, height));
    field->setPlaceholder(std::string("Note"));
    auto image = std::make_shared<UIImageView>(CGRectMake(276, 0, height, height));
    image->setImage(pixels);
    auto price = std::make_shared<UILabel>(CGRectMake(300, 0, 86, height));
    price->setText("$" + std::to_string(row * 3 % 97) + ".99");
    for (auto& v : std::vector<std::shared_ptr<UIView>>{name, button, field, image, price}) line->addSubview(v);
  }
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  return window;
}

int countViews(const std::shared_ptr<UIView>& root) {
  int n = 0;
  UIViewsManager::walkSubviewsInPreOrder(root, [&n](auto&, auto&, auto&) { return ++n, true; });
  return n;
}

JSONValue aiFindElements() {
  auto call = std::make_shared<FunctionCallObject>();
  call->setFunctionName(std::string("ai_findelements"));
  call->setTagName(std::string(""));
  return std::make_shared<UIViewFinder>()->parseFunctionCallObject(call);
}

double median(const std::vector<double>& samples) { return bench::stats(samples).median; }

void printTrips(const char* what, const bench::RoundTrips& trips) {
  if (!trips.failure.empty()) {
    std::printf("    %-44s failed: %s\n", what, trips.failure.c_str());
    return;
  }
  auto wall = bench::stats(trips.wall);
  std::printf("    %-44s wall median %9.3f ms  p99 %9.3f ms   (%zu KB reply, first %.3f ms)\n", what, wall.median,
              wall.p99, trips.replyBytes / 1024, trips.firstMs);
}

// The transport of a reply of `bytes` bytes: "gettext" on the only label of a
// screen of its own, whose text is that long, so that the agent's own work is a
// lookup and a copy.
bench::RoundTrips transport(std::size_t bytes, int count) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  auto label = std::make_shared<UILabel>(CGRectMake(0, 0, 390, 40));
  label->setText(std::string(bytes, 'x'));
  window->addSubview(label);
  window->makeKeyAndVisible();
  auto found = bench::roundTrips(R"({"functionname":"findelements","tagname":"UILabel","accessortype":""})", 0,
                                 [](const std::string& reply) { return reply.find("elementID") != std::string::npos; });
  bench::RoundTrips trips = found;
  if (found.failure.empty()) {
    const auto ids = UIViewMemoryCache::sharedInstance()->getAllUIViewsIdentifier();
    const JSONValue request = {{"functionname", "gettext"}, {"accessorvalue", ids.empty() ? "" : ids.front()}};
    trips = bench::roundTrips(request.dump(), count, [bytes](const std::string& reply) { return reply.size() > bytes; });
  }
  window->setHidden(true);
  return trips;
}

void benchScreen(int views, bench::Goals& goals) {
  auto window = makeScreen(views);
  const int iterations = views >= 1000 ? 20 : 100;
  auto ai = std::make_shared<AiAPI>();
  auto described = VisibleViewList::getAllUIViewsAccordingToViewType(std::string());
  std::printf("screen of %d views, %zu described\n", countViews(window), described.size());

  // In-process: the whole command, then its stages over the same views.
  std::printf("  in-process, on the main thread\n");
  JSONValue reply;
  Samples whole = sample(iterations, [&] { reply = aiFindElements(); });
  print("ai_findelements (the interpreter)", whole);
  Samples list = sample(iterations, [] { VisibleViewList::getAllUIViewsAccordingToViewType(std::string()); });
  print("  visible-view list", list);
  std::vector<std::shared_ptr<UIImage>> images;
  Samples render = sample(iterations, [&] {
    images.clear();
    for (const auto& view : described) images.push_back(Utilities::getUIImageOfUIView(view));
  });
  print("  rendering every described view", render);
  std::vector<NSData> jpegs;
  Samples jpeg = sample(iterations, [&] {
    jpegs.clear();
    for (const auto& image : images) {
      if (auto data = UIImageJPEGRepresentation(image, kJPEGQuality)) jpegs.push_back(std::move(*data));
    }
  });
  print("  JPEG of every image", jpeg);
  std::size_t base64Bytes = 0;
  Samples base64 = sample(iterations, [&] {
    base64Bytes = 0;
    for (const auto& data : jpegs) base64Bytes += foundation::base64Encode(data).size();
  });
  print("  Base64 of every JPEG", base64);
  JSONValue withoutImages;
  Samples rest = sample(iterations, [&] {
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    withoutImages = JSONValue::array();
    for (const auto& view : described) withoutImages.push_back(ai->getViewPropertyWithImage(view, ""));
  });
  print("  descriptions apart from images", rest);
  Samples tappable = sample(iterations, [&] {
    for (const auto& view : described) ai->IsActuallyTappable(view);
  });
  print("    of which tappability", tappable);
  Samples noImages = sample(iterations, [&] {
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    withoutImages = JSONValue::array();
    for (const auto& view : VisibleViewList::getAllUIViewsAccordingToViewType(std::string())) {
      withoutImages.push_back(ai->getViewPropertyWithImage(view, ""));
    }
  });
  print("ai_findelements without image encoding", noImages);
  std::string text, textWithoutImages;
  Samples json = sample(iterations, [&] { text = Utilities::convertNSArrayToString(reply); });
  print("JSON text of the reply", json);
  Samples jsonWithout = sample(iterations, [&] { textWithoutImages = Utilities::convertNSArrayToString(withoutImages); });
  print("JSON text of the reply without images", jsonWithout);
  std::printf("    reply %zu KB, of which Base64 images %zu KB; without images %zu KB\n", text.size() / 1024,
              base64Bytes / 1024, textWithoutImages.size() / 1024);

  // Through the playback server.
  std::printf("  through the playback port\n");
  auto trips = bench::roundTrips(R"({"functionname":"ai_findelements","tagname":""})", iterations,
                                 [](const std::string& reply) { return reply.find("imageBase64") != std::string::npos; });
  printTrips("ai_findelements round trip", trips);
  if (trips.failure.empty()) {
    char note[64];
    std::snprintf(note, sizeof note, "(interpreter alone: processor time %.3f ms)", median(whole.cpu));
    goals.atMost("ai_findelements round trip, " + std::to_string(countViews(window)) + " views",
                 median(trips.wall), views >= 1000 ? 50 : 20, "ms", note);
  }
  window->setHidden(true);
  auto carried = transport(text.size(), iterations);
  printTrips("transport of a reply that size (gettext)", carried);
  auto carriedSmall = transport(textWithoutImages.size(), iterations);
  printTrips("transport of the reply without images", carriedSmall);
  window->makeKeyAndVisible();

  if (trips.failure.empty() && carried.failure.empty() && carriedSmall.failure.empty()) {
    const double roundTrip = median(trips.wall);
    std::printf("    %-44s      median %9.3f ms  (sum of the measured medians)\n",
                "round trip without image encoding", median(noImages.wall) + median(jsonWithout.wall) +
                                                         median(carriedSmall.wall));
    // The parts are measured apart, so their sum need not meet the round trip exactly.
    const double parts[] = {median(render.wall), median(jpeg.wall), median(base64.wall), median(noImages.wall),
                            median(json.wall), median(carried.wall)};
    double sum = 0;
    for (double part : parts) sum += part;
    std::printf("  where the time goes (share of the parts' sum, %.1f ms, against the round trip's %.1f ms):\n"
                "    rendering %.0f%%, JPEG %.0f%%, Base64 %.0f%%, list and descriptions %.0f%%, JSON %.0f%%, "
                "socket and framing %.0f%%\n",
                sum, roundTrip, 100 * parts[0] / sum, 100 * parts[1] / sum, 100 * parts[2] / sum, 100 * parts[3] / sum,
                100 * parts[4] / sum, 100 * parts[5] / sum);
  }
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
  window->setHidden(true);
}

}  // namespace

int main() {
  std::make_shared<TcpChannel>()->start();
  bench::Goals goals;
  for (int views : {100, 1000}) benchScreen(views, goals);
  goals.print();
  return 0;
}
