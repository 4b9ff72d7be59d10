// Replay results as a JUnit XML report, as CI systems read them: one test case per
// recording, with one failure naming the failed step. A recording that cannot be
// read or parsed is a failed test case of its own naming the file and its bad
// lines, so that the report is written whatever the recordings hold.
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
  // Why the recording cannot be played ("NAME:LINE: reason" per bad line); empty
  // when it parsed.
  std::vector<std::string> problems;
  // Why a readable recording was not played; empty when it was.
  std::string skipped;
};

std::string junitReport(const std::vector<RecordingRun>& runs);

}  // namespace qvctl
