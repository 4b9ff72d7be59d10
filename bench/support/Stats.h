// The figures every benchmark prints of its samples: the median and the 99th
// percentile (nearest rank); both 0 without samples.
#pragma once

#include <algorithm>
#include <vector>

namespace bench {

struct Stats {
  double median = 0, p99 = 0;
};

inline Stats stats(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))]; };
  return {at(0.5), at(0.99)};
}

}  // namespace bench
