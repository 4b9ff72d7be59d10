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
