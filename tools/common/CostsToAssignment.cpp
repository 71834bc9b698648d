#include "CostsToAssignment.h"

#include <cstddef>
#include <limits>

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

std::vector<int> MinimumCostAssignment(const std::vector<std::vector<double>>& cost) {
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

}  // namespace vesktools
