#include "quorvel/state/GlobalVars.h"

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(GlobalVars, objc::Object)

std::shared_ptr<GlobalVars> GlobalVars::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<GlobalVars>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<GlobalVars>(std::make_shared<GlobalVars>()); });
  return *instance;
}

GlobalVars::Text GlobalVars::_hybridRecordedSteps() const {
  std::lock_guard lock(hybridRecordedStepsMutex);
  if (hybridRecordedSteps.empty()) return std::nullopt;
  return hybridRecordedSteps.back();
}

void GlobalVars::set_hybridRecordedSteps(const Text& v) {
  std::vector<std::string> replaced;
  if (v) replaced.push_back(*v);
  std::lock_guard lock(hybridRecordedStepsMutex);
  hybridRecordedSteps.swap(replaced);
}

void GlobalVars::append_hybridRecordedSteps(const std::string& v) {
  std::lock_guard lock(hybridRecordedStepsMutex);
  hybridRecordedSteps.push_back(v);
}

std::vector<std::string> GlobalVars::take_hybridRecordedSteps() {
  std::vector<std::string> taken;
  std::lock_guard lock(hybridRecordedStepsMutex);
  taken.swap(hybridRecordedSteps);
  return taken;
}

namespace {

// Web-view touches remembered: far more than a page records between two
// collections.
constexpr std::size_t kWebTouchImagesKept = 32;
// A page reads the clock in whole milliseconds.
constexpr double kWebTouchLeeway = 0.001;

}  // namespace

void GlobalVars::add_webTouchImage(double time, std::shared_ptr<UIImage> image) {
  std::lock_guard lock(webTouchImagesMutex);
  webTouchImages.emplace_back(time, std::move(image));
  if (webTouchImages.size() > kWebTouchImagesKept) webTouchImages.erase(webTouchImages.begin());
}

std::shared_ptr<UIImage> GlobalVars::webTouchImageAt(double time) const {
  std::lock_guard lock(webTouchImagesMutex);
  for (auto it = webTouchImages.rbegin(); it != webTouchImages.rend(); ++it) {
    if (it->first <= time + kWebTouchLeeway) return it->second;
  }
  return nullptr;
}
