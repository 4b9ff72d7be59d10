// Replay results as a JUnit XML report, as CI systems read them: one test case per
// recording, with one failure naming the failed step.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "qvctl/Replay.h"

namespace qvctl {

struct RecordingRun {
  std::string file;
  Recording recording;
  std::vector<StepResult> results;
  std::chrono::milliseconds time{0};
};

std::string junitReport(const std::vector<RecordingRun>& runs);

}  // namespace qvctl
