#include "quorvel/channel/TcpChannel.h"

#include <atomic>
#include <exception>

#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/util/Utilities.h"

QV_OBJC_DEFINE_CLASS(TcpChannel, objc::Object)

namespace {

std::atomic<std::uint64_t> startedPassCount{0};
std::atomic<std::uint64_t> finishedPassCount{0};

}  // namespace

std::uint64_t TcpChannel::startedPasses() { return startedPassCount; }
std::uint64_t TcpChannel::finishedPasses() { return finishedPassCount; }

void TcpChannel::start() {
  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [] {
    for (;;) {
      sendPendingSteps();
      NSThread::sleepForTimeInterval(kStepSenderPeriod);
    }
  });
  auto manager = ServerManager::serverManager();
  manager->initialiseRecorderServerOnPortNumber(ServerManager::kRecorderPort, ServerManager::kRecorderGreeting);
  manager->initialisePlayBackServerOnPortNumber(ServerManager::kPlayBackPort, ServerManager::kPlayBackGreeting);
}

void TcpChannel::sendPendingSteps() {
  ++startedPassCount;
  auto manager = ServerManager::serverManager();
  auto vars = GlobalVars::sharedInstance();
  auto queue = RecorderQueue::get();
  // Every page collection since the last pass, in the order collected.
  for (const auto& hybridSteps : vars->take_hybridRecordedSteps()) {
    try {
      manager->initialiseRecorderServerOnPortNumber(ServerManager::kRecorderPort, hybridSteps);
    } catch (const std::exception& e) {
      NSLog("Web-recorded steps not sent: %@", e.what());
    }
  }
  // Every step goes out, the ones recorded before a switch to spy mode included;
  // of the spy lists waiting, the newest.
  for (auto& entry : queue->takeForSending()) {
    NSLog("******Inside Get Length Condition");
    try {
      manager->initialiseRecorderServerOnPortNumber(ServerManager::kRecorderPort,
                                                    Utilities::convertNSArrayToString(entry));
    } catch (const std::exception& e) {
      // An entry that cannot be written as JSON is dropped; the sender goes on.
      NSLog("Recorded step dropped: %@", e.what());
    }
  }
  ++finishedPassCount;
}
