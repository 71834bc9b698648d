#include <algorithm>
#include <cmath>
#include <limits>

#include "CostsToAssignment.h"
#include "Locate.h"

namespace vesktools {

ErrorSummary PeaksToErrors(std::vector<BlockResult>& blocks, const std::vector<Direction>& truth, double gateDeg) {
  ErrorSummary s;
  std::vector<double> all;
  for (BlockResult& block : blocks) {
    block.errorsDeg.clear();
    // Pairs beyond the gate cost more than any gated assignment can save,
    // so the assignment never trades an in-gate pair for them.
    const double beyond = 1e6;
    std::vector<std::vector<double>> cost(block.peaks.size(), std::vector<double>(truth.size()));
    for (std::size_t p = 0; p < block.peaks.size(); ++p)
      for (std::size_t t = 0; t < truth.size(); ++t) {
        const double angle = AngleDeg(block.peaks[p].direction, truth[t]);
        cost[p][t] = angle <= gateDeg ? angle : beyond;
      }
    const std::vector<int> column = MinimumCostAssignment(cost);
    std::size_t assigned = 0;
    for (std::size_t p = 0; p < block.peaks.size(); ++p) {
      if (column[p] < 0 || cost[p][static_cast<std::size_t>(column[p])] >= beyond) continue;
      block.errorsDeg.push_back(cost[p][static_cast<std::size_t>(column[p])]);
      ++assigned;
    }
    all.insert(all.end(), block.errorsDeg.begin(), block.errorsDeg.end());
    s.falseAlarms += block.peaks.size() - assigned;
    s.misses += truth.size() - assigned;
  }
  s.assigned = all.size();
  if (all.empty()) {
    s.meanDeg = s.medianDeg = std::numeric_limits<double>::quiet_NaN();
    return s;
  }
  double sum = 0;
  std::size_t within = 0;
  for (double e : all) {
    sum += e;
    if (e <= 5.0) ++within;
  }
  s.meanDeg = sum / all.size();
  s.within5Deg = static_cast<double>(within) / all.size();
  std::sort(all.begin(), all.end());
  const std::size_t n = all.size();
  s.medianDeg = n % 2 ? all[n / 2] : 0.5 * (all[n / 2 - 1] + all[n / 2]);
  return s;
}

}  // namespace vesktools
