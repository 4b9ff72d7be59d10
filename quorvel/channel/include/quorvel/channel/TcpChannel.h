// Starts the agent's control channel: the step sender and both servers.
#pragma once

#include <cstdint>

#include "objc/runtime.h"

class TcpChannel : public objc::Object {
  QV_OBJC_DECLARE_CLASS(TcpChannel)
 public:
  static constexpr double kStepSenderPeriod = 1.0;

  // Submits the endless step sender to the background global queue, then starts
  // the recorder server (with its greeting) and the playback server.
  void start();

  // One pass of the step sender: the steps recorded inside a web page first, then
  // every queued step as compact JSON, and of the spy lists queued since the last
  // pass only the newest (RecorderQueue::takeForSending). An entry that cannot be
  // written as JSON is dropped.
  static void sendPendingSteps();

  // Diagnostics: passes of the step sender begun and ended so far. A pass that has
  // ended is followed by a second's pause.
  static std::uint64_t startedPasses();
  static std::uint64_t finishedPasses();
};
