#include "qvctl/JUnit.h"

#include <cstdio>

#include "qvctl/Xml.h"

namespace qvctl {

namespace {

std::string secondsOf(std::chrono::milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::chrono::duration<double>(time).count());
  return text;
}

bool passed(const RecordingRun& run) {
  if (!run.problems.empty()) return false;
  if (!run.skipped.empty()) return true;
  if (run.results.size() != run.recording.steps.size()) return false;
  for (const auto& r : run.results) {
    if (!r.passed) return false;
  }
  return true;
}

}  // namespace

std::string junitReport(const std::vector<RecordingRun>& runs) {
  std::size_t failures = 0, skipped = 0;
  std::chrono::milliseconds total{0};
  for (const auto& run : runs) {
    failures += passed(run) ? 0 : 1;
    skipped += run.skipped.empty() ? 0 : 1;
    total += run.time;
  }
  const std::string counts = " tests=\"" + std::to_string(runs.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" time=\"" + secondsOf(total) + "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"qvctl replay\"" + counts + ">\n";
  xml += "  <testsuite name=\"qvctl replay\"" + counts + " skipped=\"" + std::to_string(skipped) + "\">\n";
  for (const auto& run : runs) {
    xml += "    <testcase name=\"" + xmlEscaped(run.recording.name) + "\" classname=\"replay\" file=\"" +
           xmlEscaped(run.file) + "\" time=\"" + secondsOf(run.time) + "\"";
    std::string steps;
    const StepResult* failed = nullptr;
    for (const auto& r : run.results) {
      steps += resultLine(r) + "\n";
      if (!r.passed && !failed) failed = &r;
    }
    xml += ">\n";
    if (!run.problems.empty()) {
      std::string all;
      for (const auto& problem : run.problems) all += problem + "\n";
      const std::string headline = "recording " + run.file + " does not parse: " + run.problems.front() +
                                   (run.problems.size() > 1 ? " (and " + std::to_string(run.problems.size() - 1) +
                                                                  " more)"
                                                            : "");
      xml += "      <failure message=\"" + xmlEscaped(headline) + "\" type=\"RecordingUnreadable\">" +
             xmlEscaped(all) + "</failure>\n";
    } else if (!run.skipped.empty()) {
      xml += "      <skipped message=\"" + xmlEscaped(run.skipped) + "\"/>\n";
    }
    if (failed) {
      const std::string headline = "step " + std::to_string(failed->number) + " (line " +
                                   std::to_string(failed->step.line) + "): " + describeStep(failed->step) + ": " +
                                   failed->message;
      xml += "      <failure message=\"" + xmlEscaped(headline) + "\" type=\"StepFailed\">" +
             xmlEscaped(headline + "\nreply: " + failed->reply + (failed->snapshot.empty() ? "" : "\nscreen: " +
                     failed->snapshot)) + "</failure>\n";
    }
    xml += "      <system-out>" + xmlEscaped(steps) + "</system-out>\n";
    xml += "    </testcase>\n";
  }
  xml += "  </testsuite>\n</testsuites>\n";
  return xml;
}

}  // namespace qvctl
