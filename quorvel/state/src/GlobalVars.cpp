#include "quorvel/state/GlobalVars.h"

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(GlobalVars, objc::Object)

std::shared_ptr<GlobalVars> GlobalVars::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<GlobalVars>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<GlobalVars>(std::make_shared<GlobalVars>()); });
  return *instance;
}
