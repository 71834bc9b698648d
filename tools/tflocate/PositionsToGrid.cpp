#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "Locate.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {
namespace {

using vesk::kPi;
constexpr double kDeg = 180.0 / kPi;
constexpr double kAxisToleranceDeg = 0.01;  // positions are stored as floats
constexpr double kPoleDeg = 90.0 - kAxisToleranceDeg;

// Sorted distinct values, those within the tolerance merged into the first.
std::vector<double> Axis(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::vector<double> axis;
  for (double v : values)
    if (axis.empty() || v - axis.back() > kAxisToleranceDeg) axis.push_back(v);
  return axis;
}

int IndexOn(const std::vector<double>& axis, double v) {
  auto it = std::lower_bound(axis.begin(), axis.end(), v - kAxisToleranceDeg);
  if (it == axis.end() || std::fabs(*it - v) > kAxisToleranceDeg) return -1;
  return static_cast<int>(it - axis.begin());
}

double Azimuth(const Direction& d) { return d.azimuthDeg > 360.0 - kAxisToleranceDeg / 2 ? 0.0 : d.azimuthDeg; }

// Fills the regular-grid fields when every (azimuth, elevation) of the
// points off the poles is present; returns false otherwise.
bool MakeRegular(SearchGrid& g) {
  std::vector<double> az, el;
  for (const Direction& d : g.points) {
    el.push_back(std::fabs(d.elevationDeg) > kPoleDeg ? std::copysign(90.0, d.elevationDeg) : d.elevationDeg);
    if (std::fabs(d.elevationDeg) <= kPoleDeg) az.push_back(Azimuth(d));
  }
  g.elevationsDeg = Axis(el);
  g.azimuthsDeg = Axis(az);
  const std::size_t na = g.azimuthsDeg.size(), ne = g.elevationsDeg.size();
  if (na == 0) return false;
  g.cell.assign(ne, std::vector<std::size_t>(na, SIZE_MAX));
  g.cellOfPoint.assign(g.points.size(), {{-1, -1}});
  for (std::size_t p = 0; p < g.points.size(); ++p) {
    const Direction& d = g.points[p];
    const bool pole = std::fabs(d.elevationDeg) > kPoleDeg;
    const int e = IndexOn(g.elevationsDeg, pole ? std::copysign(90.0, d.elevationDeg) : d.elevationDeg);
    if (pole) {
      for (std::size_t a = 0; a < na; ++a) g.cell[e][a] = p;
      g.cellOfPoint[p] = {{e, -1}};
      continue;
    }
    const int a = IndexOn(g.azimuthsDeg, Azimuth(d));
    if (e < 0 || a < 0 || g.cell[e][a] != SIZE_MAX) return false;
    g.cell[e][a] = p;
    g.cellOfPoint[p] = {{e, a}};
  }
  for (const auto& row : g.cell)
    for (std::size_t p : row)
      if (p == SIZE_MAX) return false;
  // The azimuths close the circle when the gap across 0 is no wider than
  // the widest step between them.
  double widest = 0;
  for (std::size_t a = 1; a < na; ++a) widest = std::max(widest, g.azimuthsDeg[a] - g.azimuthsDeg[a - 1]);
  g.azimuthWraps = na >= 3 && g.azimuthsDeg[0] + 360.0 - g.azimuthsDeg[na - 1] <= widest * 1.01;
  return true;
}

void AddNeighbour(SearchGrid& g, std::size_t p, std::size_t q) {
  if (p == q) return;
  auto& list = g.neighbours[p];
  if (std::find(list.begin(), list.end(), q) == list.end()) list.push_back(q);
}

}  // namespace

Direction DirectionOf(double x, double y, double z) {
  const double r = std::sqrt(x * x + y * y + z * z);
  Direction d;
  d.unit = {{x / r, y / r, z / r}};
  d.azimuthDeg = std::atan2(y, x) * kDeg;
  if (d.azimuthDeg < 0) d.azimuthDeg += 360.0;
  if (d.azimuthDeg >= 360.0) d.azimuthDeg = 0.0;
  d.elevationDeg = std::asin(std::max(-1.0, std::min(1.0, z / r))) * kDeg;
  return d;
}

Direction DirectionFromAngles(double azimuthDeg, double elevationDeg) {
  const double a = azimuthDeg / kDeg, e = elevationDeg / kDeg;
  Direction d = DirectionOf(std::cos(e) * std::cos(a), std::cos(e) * std::sin(a), std::sin(e));
  d.azimuthDeg = std::fmod(std::fmod(azimuthDeg, 360.0) + 360.0, 360.0);
  d.elevationDeg = elevationDeg;
  return d;
}

double AngleDeg(const Direction& a, const Direction& b) {
  // atan2 of |a x b| and a . b keeps small angles exact.
  const auto& u = a.unit;
  const auto& v = b.unit;
  const double cx = u[1] * v[2] - u[2] * v[1], cy = u[2] * v[0] - u[0] * v[2], cz = u[0] * v[1] - u[1] * v[0];
  return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) * kDeg;
}

SearchGrid PositionsToGrid(const std::vector<std::array<double, 3>>& positions) {
  if (positions.empty()) throw ToolError("the TF file holds no source position");
  SearchGrid g;
  std::map<std::tuple<long, long, long>, std::size_t> pointOf;
  for (std::size_t src = 0; src < positions.size(); ++src) {
    const auto& p = positions[src];
    const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (!(r > 0) || !std::isfinite(r))
      throw ToolError("source " + std::to_string(src) +
                      " lies at the array centre or has a non-finite position: it has no direction");
    const Direction d = DirectionOf(p[0], p[1], p[2]);
    // Directions equal to 1e-5 (0.0006 degrees) are one point.
    const auto key =
        std::make_tuple(std::lround(d.unit[0] * 1e5), std::lround(d.unit[1] * 1e5), std::lround(d.unit[2] * 1e5));
    auto it = pointOf.find(key);
    if (it == pointOf.end()) {
      it = pointOf.emplace(key, g.points.size()).first;
      g.points.push_back(d);
      g.firstSource.push_back(src);
    }
    g.pointOfSource.push_back(it->second);
  }
  const std::size_t n = g.points.size();
  g.neighbours.assign(n, {});
  g.regular = MakeRegular(g);
  if (g.regular) {
    const int ne = static_cast<int>(g.elevationsDeg.size()), na = static_cast<int>(g.azimuthsDeg.size());
    for (int e = 0; e < ne; ++e)
      for (int a = 0; a < na; ++a)
        for (int de = -1; de <= 1; ++de)
          for (int da = -1; da <= 1; ++da) {
            const int e2 = e + de;
            int a2 = a + da;
            if (e2 < 0 || e2 >= ne) continue;
            if (a2 < 0 || a2 >= na) {
              if (!g.azimuthWraps) continue;
              a2 = (a2 + na) % na;
            }
            AddNeighbour(g, g.cell[e][a], g.cell[e2][a2]);
          }
  } else {
    g.cell.clear();
    g.cellOfPoint.clear();
    g.azimuthsDeg.clear();
    g.elevationsDeg.clear();
    // Scattered directions: the neighbours of a point are those within 1.5
    // times the angle to its nearest other point.
    for (std::size_t p = 0; p < n; ++p) {
      double nearest = 1e9;
      for (std::size_t q = 0; q < n; ++q)
        if (q != p) nearest = std::min(nearest, AngleDeg(g.points[p], g.points[q]));
      for (std::size_t q = 0; q < n; ++q)
        if (q != p && AngleDeg(g.points[p], g.points[q]) <= 1.5 * nearest) {
          AddNeighbour(g, p, q);
          AddNeighbour(g, q, p);
        }
    }
  }
  std::vector<double> nearest;
  for (std::size_t p = 0; p < n; ++p) {
    double best = 1e9;
    for (std::size_t q : g.neighbours[p]) best = std::min(best, AngleDeg(g.points[p], g.points[q]));
    if (!g.neighbours[p].empty()) nearest.push_back(best);
  }
  if (!nearest.empty()) {
    std::nth_element(nearest.begin(), nearest.begin() + nearest.size() / 2, nearest.end());
    g.spacingDeg = nearest[nearest.size() / 2];
  }
  return g;
}

}  // namespace vesktools
