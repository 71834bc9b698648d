#include <algorithm>
#include <cmath>

#include "Locate.h"

namespace vesktools {
namespace {

// Abscissa of the vertex of the parabola through (x0, y0), (x1, y1), (x2,
// y2) with y1 the largest (degrees in, degrees out); x1 when the three lie on a line. Kept within
// half a step of x1 on either side.
double Vertex(double x0, double y0, double x1, double y1, double x2, double y2) {
  // On the logarithm where all three are positive: exact for a Gaussian
  // peak, and far less biased than the values for MUSIC's sharp ones.
  if (y0 > 0 && y1 > 0 && y2 > 0) {
    y0 = std::log(y0);
    y1 = std::log(y1);
    y2 = std::log(y2);
  }
  const double d0 = x0 - x1, d2 = x2 - x1;
  const double den = d0 * d2 * (d0 - d2);
  if (den == 0) return x1;
  // y = a t^2 + b t + y1 with t = x - x1.
  const double a = (d2 * (y0 - y1) - d0 * (y2 - y1)) / den;
  const double b = (d0 * d0 * (y2 - y1) - d2 * d2 * (y0 - y1)) / den;
  if (!(a < 0)) return x1;
  const double t = std::max(d0 / 2, std::min(d2 / 2, -b / (2 * a)));
  return x1 + t;
}

}  // namespace

std::vector<Peak> SpectrumToPeaks(const std::vector<double>& spectrum, const SearchGrid& grid, std::size_t k) {
  const std::size_t n = grid.points.size();
  std::vector<double> value(n, -HUGE_VAL);
  for (std::size_t src = 0; src < spectrum.size(); ++src) {
    double& v = value[grid.pointOfSource[src]];
    v = std::max(v, spectrum[src]);
  }
  double largest = -HUGE_VAL;
  for (double v : value) largest = std::max(largest, v);
  std::vector<std::size_t> maxima;
  for (std::size_t p = 0; p < n; ++p) {
    if (!std::isfinite(value[p])) continue;
    bool top = true;
    for (std::size_t q : grid.neighbours[p])
      if (value[q] > value[p] || (value[q] == value[p] && q < p)) {
        top = false;
        break;
      }
    if (top) maxima.push_back(p);
  }
  std::sort(maxima.begin(), maxima.end(),
            [&](std::size_t a, std::size_t b) { return value[a] != value[b] ? value[a] > value[b] : a < b; });
  if (maxima.size() > k) maxima.resize(k);
  std::vector<Peak> peaks;
  for (std::size_t p : maxima) {
    Peak peak;
    peak.direction = grid.points[p];
    peak.nearestSource = grid.firstSource[p];
    peak.power = largest > 0 ? value[p] / largest : 1.0;
    if (grid.regular && grid.cellOfPoint[p][1] >= 0) {
      const int e = grid.cellOfPoint[p][0], a = grid.cellOfPoint[p][1];
      const int na = static_cast<int>(grid.azimuthsDeg.size()), ne = static_cast<int>(grid.elevationsDeg.size());
      double az = grid.azimuthsDeg[a], el = grid.elevationsDeg[e];
      if (a > 0 && a + 1 < na) {
        az = Vertex(grid.azimuthsDeg[a - 1], value[grid.cell[e][a - 1]], az, value[p], grid.azimuthsDeg[a + 1],
                    value[grid.cell[e][a + 1]]);
      } else if (grid.azimuthWraps && na >= 3) {
        const int lo = (a + na - 1) % na, hi = (a + 1) % na;
        const double xlo = grid.azimuthsDeg[lo] - (lo > a ? 360.0 : 0.0);
        const double xhi = grid.azimuthsDeg[hi] + (hi < a ? 360.0 : 0.0);
        az = Vertex(xlo, value[grid.cell[e][lo]], az, value[p], xhi, value[grid.cell[e][hi]]);
      }
      if (e > 0 && e + 1 < ne)
        el = Vertex(grid.elevationsDeg[e - 1], value[grid.cell[e - 1][a]], el, value[p], grid.elevationsDeg[e + 1],
                    value[grid.cell[e + 1][a]]);
      peak.direction = DirectionFromAngles(az, el);
    }
    peaks.push_back(peak);
  }
  return peaks;
}

}  // namespace vesktools
