#include <algorithm>
#include <cmath>
#include <limits>

#include "Locate.h"

namespace vesktools {
namespace {

// Minimum-cost assignment of every row to a distinct column, rows <= columns
// (the potentials method, O(rows^2 columns)).
std::vector<int> AssignRows(const std::vector<std::vector<double>>& a) {
  const std::size_t n = a.size(), m = a.empty() ? 0 : a[0].size();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> u(n + 1, 0), v(m + 1, 0);
  std::vector<std::size_t> p(m + 1, 0), way(m + 1, 0);
  for (std::size_t i = 1; i <= n; ++i) {
    p[0] = i;
    std::size_t j0 = 0;
    std::vector<double> minv(m + 1, inf);
    std::vector<char> used(m + 1, 0);
    do {
      used[j0] = 1;
      const std::size_t i0 = p[j0];
      double delta = inf;
      std::size_t j1 = 0;
      for (std::size_t j = 1; j <= m; ++j)
        if (!used[j]) {
          const double cur = a[i0 - 1][j - 1] - u[i0] - v[j];
          if (cur < minv[j]) {
            minv[j] = cur;
            way[j] = j0;
          }
          if (minv[j] < delta) {
            delta = minv[j];
            j1 = j;
          }
        }
      for (std::size_t j = 0; j <= m; ++j)
        if (used[j]) {
          u[p[j]] += delta;
          v[j] -= delta;
        } else {
          minv[j] -= delta;
        }
      j0 = j1;
    } while (p[j0] != 0);
    do {
      const std::size_t j1 = way[j0];
      p[j0] = p[j1];
      j0 = j1;
    } while (j0);
  }
  std::vector<int> column(n, -1);
  for (std::size_t j = 1; j <= m; ++j)
    if (p[j]) column[p[j] - 1] = static_cast<int>(j - 1);
  return column;
}

}  // namespace

std::vector<int> HungarianAssignment(const std::vector<std::vector<double>>& cost) {
  const std::size_t rows = cost.size(), cols = rows ? cost[0].size() : 0;
  if (rows == 0 || cols == 0) return std::vector<int>(rows, -1);
  if (rows <= cols) return AssignRows(cost);
  std::vector<std::vector<double>> t(cols, std::vector<double>(rows));
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < cols; ++c) t[c][r] = cost[r][c];
  const std::vector<int> rowOfColumn = AssignRows(t);
  std::vector<int> column(rows, -1);
  for (std::size_t c = 0; c < cols; ++c)
    if (rowOfColumn[c] >= 0) column[static_cast<std::size_t>(rowOfColumn[c])] = static_cast<int>(c);
  return column;
}

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
    const std::vector<int> column = HungarianAssignment(cost);
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
