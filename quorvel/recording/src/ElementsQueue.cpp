#include "quorvel/recording/ElementsQueue.h"

#include <algorithm>
#include <exception>

#include "dispatch/dispatch.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/recording/ElementInfo.h"
#include "quorvel/recording/ElementProcessor.h"
#include "quorvel/recording/RecorderAction.h"

QV_OBJC_DEFINE_CLASS(ElementsQueue, objc::Object)
QV_OBJC_DEFINE_CLASS(ElementInfo, objc::Object)
QV_OBJC_DEFINE_CLASS(ElementProcessor, objc::Object)

namespace {

std::atomic<int> eventsInDispatch{0};
std::atomic<std::uint64_t> completedRunCount{0};

}  // namespace

ElementProcessor::Records ElementProcessor::getExactElementInfos(const Records& bucket) const { return bucket; }

ElementsQueue::EventDispatchScope::EventDispatchScope() { ++eventsInDispatch; }
ElementsQueue::EventDispatchScope::~EventDispatchScope() { --eventsInDispatch; }

std::uint64_t ElementsQueue::completedRuns() { return completedRunCount; }

std::shared_ptr<ElementsQueue> ElementsQueue::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<ElementsQueue>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<ElementsQueue>(std::make_shared<ElementsQueue>()); });
  return *instance;
}

std::optional<std::string> ElementsQueue::getZarvoIdOfUIView(const std::shared_ptr<UIView>& view) const {
  return ViewIdentity::getRecordingGUID(view);
}

std::optional<std::string> ElementsQueue::recordKey(const std::shared_ptr<UIView>& touched,
                                                    const std::shared_ptr<UIView>& element) const {
  auto key = getZarvoIdOfUIView(touched);
  if (!key) return std::nullopt;
  if (element && element != touched) {
    if (auto elementKey = getZarvoIdOfUIView(element)) return elementKey;
  }
  return key;
}

bool ElementsQueue::addElementInfoInQueue(const std::shared_ptr<ElementInfo>& info) {
  if (!info) return false;
  const auto& capture = info->getCapture();
  const auto guid = recordKey(info->getUIView(), capture ? capture->element : nullptr);
  if (!guid) return false;
  NSLog("UIVIEW ZARVO IDENTIFIER %@", *guid);
  bool added = false;
  {
    std::lock_guard lock(mutex_);
    if (std::find(allElementsAddedGuid_.begin(), allElementsAddedGuid_.end(), *guid) == allElementsAddedGuid_.end()) {
      allElements_.push_back(info);
      allElementsAddedGuid_.push_back(*guid);
      added = true;
    }
  }
  NSLog(added ? "********** Adding New GUID %@" : "********** Already Added ZARVO ID GUID %@", *guid);
  return added;
}

bool ElementsQueue::acceptsElementOfUIView(const std::shared_ptr<UIView>& view,
                                           const std::shared_ptr<UIView>& element) const {
  const auto guid = recordKey(view, element);
  if (!guid) return false;
  std::lock_guard lock(mutex_);
  return std::find(allElementsAddedGuid_.begin(), allElementsAddedGuid_.end(), *guid) == allElementsAddedGuid_.end();
}

void ElementsQueue::addTypedTextInQueue(const std::shared_ptr<ElementInfo>& info) {
  if (!info) return;
  std::lock_guard lock(mutex_);
  allElements_.push_back(info);
}

std::size_t ElementsQueue::getElementsBucketSize() const {
  std::lock_guard lock(mutex_);
  return allElements_.size();
}

ElementsQueue::Records ElementsQueue::takeBucket() {
  Records taken;
  std::lock_guard lock(mutex_);
  // A record is added only inside a dispatch, so a record seen here while no
  // dispatch is open belongs to a dispatch that has ended.
  if (eventsInDispatch > 0) return taken;
  taken.swap(allElements_);
  allElementsAddedGuid_.clear();
  return taken;
}

void ElementsQueue::startRecorderActionThread() {
  std::weak_ptr<ElementsQueue> weak = std::static_pointer_cast<ElementsQueue>(shared_from_this());
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(kRecorderActionPeriod * NSEC_PER_SEC)),
                 dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [weak] {
                   auto self = weak.lock();
                   if (!self) return;
                   self->recordBucket();
                   ++completedRunCount;
                   self->startRecorderActionThread();
                 });
}

void ElementsQueue::recordBucket() {
  Records records = takeBucket();
  // The records are out of the bucket: one that cannot be built is dropped rather
  // than tried again with the others, which would record those twice.
  for (const auto& record : std::make_shared<ElementProcessor>()->getExactElementInfos(records)) {
    try {
      auto recorder = std::make_shared<RecorderAction>();
      if (const auto& capture = record->getCapture()) {
        recorder->finishStep(*capture);
      } else {
        recorder->CreateRecorderAction(record->getAction(), record->getUIView(), record->getDatArgs(),
                                       record->getElementProperties(), record->getTouchedPoint().x,
                                       record->getTouchedPoint().y);
      }
    } catch (const std::exception& e) {
      NSLog("Recorded step dropped: %@", e.what());
    }
    if (record->getAction() == ElementInfo::kTypeTextAction) NSThread::sleepForTimeInterval(kPauseAfterTypedText);
  }
}
