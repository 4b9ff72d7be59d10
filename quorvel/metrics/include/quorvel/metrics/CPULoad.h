// One processor's load over one interval, as percentages from 0 to 100.
#pragma once

#include "objc/runtime.h"

class CPULoad : public objc::Object {
  QV_OBJC_DECLARE_CLASS(CPULoad)
 public:
  double system = 0;
  double user = 0;
  double nice = 0;
  double systemWithoutNice = 0;
  double userWithoutNice = 0;
  double total = 0;  // system + user + nice
};
