// The figures a benchmark has goals for, printed together at its end: each figure
// beside its goal, so that a reader sees both in one line. A figure is the median
// of the run's samples unless its line says otherwise.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

class Goals {
 public:
  // A figure that should be at most `goal` (both in `unit`); `note` says more, such
  // as the processor time beside a wall time measured on a busy machine.
  void atMost(std::string what, double value, double goal, std::string unit, std::string note = "") {
    lines_.push_back({std::move(what), value, goal, std::move(unit), std::move(note)});
  }

  void print(const char* title = "Figures against their goals") const {
    std::printf("\n%s:\n", title);
    for (const auto& line : lines_) {
      std::printf("  %-58s %10.3f %-3s goal <= %-8g %-3s %s%s%s\n", line.what.c_str(), line.value, line.unit.c_str(),
                  line.goal, line.unit.c_str(), line.value <= line.goal ? "met" : "NOT MET",
                  line.note.empty() ? "" : "  ", line.note.c_str());
    }
    std::fflush(stdout);
  }

 private:
  struct Line {
    std::string what;
    double value, goal;
    std::string unit, note;
  };
  std::vector<Line> lines_;
};

}  // namespace bench
