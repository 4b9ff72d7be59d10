// The agent's start-up and its polling hook. Nothing in the host application calls
// this: the library's load hook runs `load` when the library is loaded.
#pragma once

#include <functional>

#include "objc/runtime.h"

class RecordControl : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RecordControl)
 public:
  // Bootstrap: starts the recorded-action thread, then the control channel (step
  // sender and both servers), puts the shared state into recording mode and arms
  // the polling hook.
  static void load();
  // Arms one cycle of the polling hook, 0.2 seconds from now, on the background
  // global queue. Every cycle arms the next one when it ends, so cycles never overlap.
  static void dispatchHook();
  // One cycle's work (runs on the background queue).
  static void pollingCycle();

  // Diagnostics: called at the start and the end of every cycle body, on the
  // cycle's thread. Used by tests to observe the hook's timing.
  using CycleObserver = std::function<void(bool started)>;
  static void setCycleObserver(CycleObserver observer);

  static constexpr double kPollingPeriod = 0.2;
};

// The full start-up as the library's load hook runs it: bootstrap, then the load
// hooks of the window, application and view-controller extensions, in that order.
// Runs once per process; later calls do nothing.
void QuorvelRunLoadHooks();
