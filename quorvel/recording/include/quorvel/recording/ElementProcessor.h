// Chooses which touch records of one run of the recorded-action thread become steps.
#pragma once

#include <memory>
#include <vector>

#include "objc/runtime.h"

class ElementInfo;

class ElementProcessor : public objc::Object {
  QV_OBJC_DECLARE_CLASS(ElementProcessor)
 public:
  using Records = std::vector<std::shared_ptr<ElementInfo>>;

  // Every record of the bucket, in the order the touches came. The bucket keeps
  // one record per element, so these are the distinct elements touched since the
  // last run; each is a step of its own (taking only the newest would drop the
  // earlier taps of a quick sequence from the recording).
  Records getExactElementInfos(const Records& bucket) const;
};
