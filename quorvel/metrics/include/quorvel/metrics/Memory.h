// The logging entry of the device metrics.
#pragma once

#include "objc/runtime.h"

class Memory : public objc::Object {
  QV_OBJC_DECLARE_CLASS(Memory)
 public:
  // Takes one memory measurement and one processor-load measurement and writes
  // them to the platform log.
  void showMemoryAndCpuStats();
};
