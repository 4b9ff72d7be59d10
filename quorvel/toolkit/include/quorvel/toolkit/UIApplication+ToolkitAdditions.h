// The application extension's run-loop mode list: kept on the application object,
// created on first access with the default mode. Nothing pushes further modes, so
// the current mode is the default one.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/runloop.h"

class UIApplication;

namespace UIApplication_ToolkitAdditions {

// The mode list attached to the application; callers read and change it under its lock.
struct RunLoopModes {
  std::mutex mutex;
  std::vector<CFRunLoopMode> modes;
};

std::shared_ptr<RunLoopModes> TK_runLoopModes(UIApplication& app);
CFRunLoopMode currentRunLoopMode(UIApplication& app);

}  // namespace UIApplication_ToolkitAdditions
