#include "quorvel/toolkit/UIApplication+ToolkitAdditions.h"

#include "uikit/UIApplication.h"

namespace UIApplication_ToolkitAdditions {
namespace {

const char kRunLoopModesKey = 0;  // its address is the private association key

std::mutex& attachMutex() {
  static auto* m = new std::mutex;  // never destroyed
  return *m;
}

}  // namespace

std::shared_ptr<RunLoopModes> TK_runLoopModes(UIApplication& app) {
  std::lock_guard lock(attachMutex());
  std::any stored = app.associatedObject(&kRunLoopModesKey);
  if (auto* modes = std::any_cast<std::shared_ptr<RunLoopModes>>(&stored)) return *modes;
  auto modes = std::make_shared<RunLoopModes>();
  modes->modes.push_back(kCFRunLoopDefaultMode);
  app.setAssociatedObject(&kRunLoopModesKey, modes);
  return modes;
}

CFRunLoopMode currentRunLoopMode(UIApplication& app) {
  auto modes = TK_runLoopModes(app);
  std::lock_guard lock(modes->mutex);
  return modes->modes.empty() ? kCFRunLoopDefaultMode : modes->modes.back();
}

}  // namespace UIApplication_ToolkitAdditions
