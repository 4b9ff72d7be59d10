// The elements bucket between the touch classifier (main thread) and the
// recorded-action thread (a background queue), and that thread itself.
//
// The classifier puts records into the bucket in the order things happened: touch
// records, and the text typed into a field, taken when the user moved on from it.
// A touch record is kept only when its view carries a recording GUID (a view the
// polling hook's inventory walk has not reached yet cannot be recorded), and only
// once per element under the finger between two runs (keyed on that element's
// GUID, else the touched view's): repeated touches on one element give one
// record, touches on two labels of one container two.
//
// The recorded-action thread runs 0.1 seconds after its previous run ended. A run
// that finds records takes them all, emptying the bucket, and builds one step per
// record, in order (RecorderAction), into the step queue; it pauses 0.5 seconds
// after a typed text.
//
// The classifier captures what a step says about its element when the touch
// comes, before the application handles it; records are not taken while an event
// is being dispatched, because a switch's new state and a segmented control's new
// selection, which the steps read when they are finished, are only set by the
// application's own handling of the touch that recorded them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"

class ElementInfo;
class UIView;

class ElementsQueue : public objc::Object {
  QV_OBJC_DECLARE_CLASS(ElementsQueue)
 public:
  using Records = std::vector<std::shared_ptr<ElementInfo>>;

  static constexpr double kRecorderActionPeriod = 0.1;
  // Pause after the recorded-action thread recorded a pending text.
  static constexpr double kPauseAfterTypedText = 0.5;

  // The single instance (and its bucket), created once on first use.
  static std::shared_ptr<ElementsQueue> sharedInstance();

  // The view's recording GUID; absent for no view or a view without one.
  std::optional<std::string> getZarvoIdOfUIView(const std::shared_ptr<UIView>& view) const;

  // The filtered insert of a touch record (main thread): see above. Answers
  // whether the record was kept.
  bool addElementInfoInQueue(const std::shared_ptr<ElementInfo>& info);
  // What keeps a touch on `touched` meaning `element` apart from the others of a
  // run: the element's recording GUID, or the touched view's where the element has
  // none or is the touched view. Absent when the touched view has no GUID.
  std::optional<std::string> recordKey(const std::shared_ptr<UIView>& touched,
                                       const std::shared_ptr<UIView>& element) const;
  // Whether a touch record on `view` meaning `element` would be kept now.
  bool acceptsElementOfUIView(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& element) const;
  // Appends a typed-text record (main thread); texts are not filtered.
  void addTypedTextInQueue(const std::shared_ptr<ElementInfo>& info);
  std::size_t getElementsBucketSize() const;
  // Every record in arrival order, emptying the bucket and its GUID list; nothing
  // while an event is being dispatched. What one run of the recorded-action
  // thread works on.
  Records takeBucket();

  // Arms one run of the recorded-action thread, 0.1 seconds from now, on the
  // background global queue; every run arms the next one when it ends.
  void startRecorderActionThread();

  // Brackets the dispatch of one event (the capture hook): records are not taken
  // from the bucket while one is open. Scopes nest.
  class EventDispatchScope {
   public:
    EventDispatchScope();
    ~EventDispatchScope();
    EventDispatchScope(const EventDispatchScope&) = delete;
    EventDispatchScope& operator=(const EventDispatchScope&) = delete;
  };

  // Diagnostics: runs of the recorded-action thread completed so far.
  static std::uint64_t completedRuns();

 private:
  // One run's work.
  void recordBucket();

  mutable std::mutex mutex_;
  Records allElements_;
  std::vector<std::string> allElementsAddedGuid_;  // of the touch records
};
