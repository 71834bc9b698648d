#include "DirectionsToWeights.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <set>
#include <sstream>
#include <utility>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

namespace {

const double kTwoPi = 2.0 * vesk::kPi;
// A target this close to a ring's elevation lies on it (radians); rings of
// a grid are a degree or more apart.
const double kOnRingRad = 1e-3;
// Points nearer a face's plane than this are on it (the moved directions
// of the hull lie 1e-12 or more from any other face's plane).
const double kPlaneEps = 1e-14;

double Dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d Cross(const Vec3d& a, const Vec3d& b) {
  return Vec3d(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
double Norm(const Vec3d& a) { return std::sqrt(Dot(a, a)); }
double Angle(const Vec3d& a, const Vec3d& b) { return std::atan2(Norm(Cross(a, b)), Dot(a, b)); }
double Elevation(const Vec3d& u) { return std::atan2(u.z, std::hypot(u.x, u.y)); }
double Azimuth(const Vec3d& u) {
  const double a = std::atan2(u.y, u.x);
  return a < 0 ? a + kTwoPi : a;
}
double Degrees(double rad) { return rad * 180.0 / vesk::kPi; }

}  // namespace

const char* GridKindName(GridKind kind) {
  switch (kind) {
    case GridKind::CIRCLE:
      return "circle";
    case GridKind::CYLINDER:
      return "cylinder";
    case GridKind::SPHERE:
      return "sphere";
  }
  return "?";
}

DirectionGrid::DirectionGrid(const std::vector<Vec3d>& positions) {
  if (positions.empty()) throw ToolError("the transfer-function file holds no source");
  std::vector<Vec3d> units(positions.size());
  for (std::size_t src = 0; src < positions.size(); ++src) {
    const Vec3d& p = positions[src];
    const double length = Norm(p);
    if (!std::isfinite(length) || length == 0) {
      std::ostringstream msg;
      msg << "source " << src << " lies at (" << p.x << ", " << p.y << ", " << p.z
          << ") m: a direction needs a finite position away from the origin";
      throw ToolError(msg.str());
    }
    units[src] = p / length;
  }
  // Merge coincident directions: in order of z, only those within
  // kSameDirectionRad in z can coincide.
  std::vector<std::size_t> byZ(units.size());
  std::iota(byZ.begin(), byZ.end(), 0);
  std::stable_sort(byZ.begin(), byZ.end(), [&](std::size_t a, std::size_t b) { return units[a].z < units[b].z; });
  std::vector<std::size_t> owner(units.size(), kNoDirection);  // distinct direction of each source, by z order first
  std::vector<std::size_t> firstSource;                        // of each distinct direction
  std::vector<double> distinctZ;
  for (std::size_t src : byZ) {
    for (std::size_t d = firstSource.size(); d-- > 0 && distinctZ[d] >= units[src].z - kSameDirectionRad;) {
      if (Angle(units[firstSource[d]], units[src]) < kSameDirectionRad) {
        owner[src] = d;
        firstSource[d] = std::min(firstSource[d], src);
        break;
      }
    }
    if (owner[src] == kNoDirection) {
      owner[src] = firstSource.size();
      firstSource.push_back(src);
      distinctZ.push_back(units[src].z);
    }
  }
  std::sort(firstSource.begin(), firstSource.end());  // distinct directions in file order
  for (std::size_t src : firstSource) {
    sourceOf_.push_back(src);
    dirs_.push_back(units[src]);
  }

  // Spacing: the largest nearest-neighbour angle.
  for (std::size_t a = 0; a < dirs_.size(); ++a) {
    double nearest = vesk::kPi;
    for (std::size_t b = 0; b < dirs_.size(); ++b)
      if (b != a) nearest = std::min(nearest, Angle(dirs_[a], dirs_[b]));
    spacingRad_ = std::max(spacingRad_, dirs_.size() > 1 ? nearest : 0.0);
  }

  // Rings: directions of one elevation.
  std::vector<std::size_t> byElevation(dirs_.size());
  std::iota(byElevation.begin(), byElevation.end(), 0);
  std::stable_sort(byElevation.begin(), byElevation.end(),
                   [&](std::size_t a, std::size_t b) { return Elevation(dirs_[a]) < Elevation(dirs_[b]); });
  for (std::size_t dir : byElevation) {
    const double el = Elevation(dirs_[dir]);
    if (rings_.empty() || el - rings_.back().elevationRad > kOnRingRad) {
      rings_.emplace_back();
      rings_.back().elevationRad = el;
    }
    rings_.back().dirs.push_back(dir);
  }

  bool cylinder = rings_.size() > 1;
  const double rho0 = std::hypot(positions[0].x, positions[0].y);
  bool sameDistance = true;
  for (const Vec3d& p : positions) {
    cylinder = cylinder && rho0 > 0 && std::fabs(std::hypot(p.x, p.y) - rho0) <= 1e-4 * rho0;
    sameDistance = sameDistance && std::fabs(Norm(p) - Norm(positions[0])) <= 1e-4 * Norm(positions[0]);
  }
  kind_ = rings_.size() == 1 ? GridKind::CIRCLE : (cylinder && !sameDistance ? GridKind::CYLINDER : GridKind::SPHERE);

  if (kind_ != GridKind::SPHERE) {
    cylinderRadius_ = rho0;
    for (Ring& ring : rings_) {
      ring.height = rho0 * std::tan(ring.elevationRad);
      std::stable_sort(ring.dirs.begin(), ring.dirs.end(),
                       [&](std::size_t a, std::size_t b) { return Azimuth(dirs_[a]) < Azimuth(dirs_[b]); });
      for (std::size_t dir : ring.dirs) ring.azimuthRad.push_back(Azimuth(dirs_[dir]));
      const std::size_t n = ring.dirs.size();
      if (n < 2) continue;
      // A gap more than twice the usual one is where a partial circle
      // ends: nothing is interpolated across it.
      std::vector<double> gaps(n);
      for (std::size_t i = 0; i < n; ++i)
        gaps[i] =
            i + 1 < n ? ring.azimuthRad[i + 1] - ring.azimuthRad[i] : ring.azimuthRad[0] + kTwoPi - ring.azimuthRad[i];
      std::vector<double> sorted = gaps;
      std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
      const std::size_t widest = static_cast<std::size_t>(std::max_element(gaps.begin(), gaps.end()) - gaps.begin());
      if (n == 2 || gaps[widest] > 2.0 * sorted[n / 2] + 1e-9) ring.openingAfter = widest;
    }
    return;
  }

  std::vector<std::size_t> all(dirs_.size());
  std::iota(all.begin(), all.end(), 0);
  faces_ = Hull(all);
  // A face much wider than the grid's usual triangle closes a hole: the
  // caps of a partial sphere, the side of a partial range of azimuths.
  std::vector<double> radii;
  for (const Face& f : faces_) radii.push_back(std::acos(std::clamp(f.offset, -1.0, 1.0)));
  std::nth_element(radii.begin(), radii.begin() + radii.size() / 2, radii.end());
  holeOffset_ = std::cos(std::min(2.5 * radii[radii.size() / 2], vesk::kPi / 2));
}

std::vector<DirectionGrid::Face> DirectionGrid::Hull(const std::vector<std::size_t>& points) const {
  const auto fail = [&] {
    return ToolError("the " + std::to_string(points.size()) +
                     " measured directions span no solid angle: they cannot be triangulated");
  };
  if (points.size() < 4) throw fail();
  // The hull is built over the directions moved by a fixed pseudo-random
  // 1e-6 rad: a grid's cells have four coplanar corners (and its rings
  // many), and the hull of points in such special position is decided by
  // rounding. Moved, every face is well defined; which diagonal a cell
  // gets does not matter.
  std::vector<Vec3d> moved(points.size());
  uint64_t state = 0x2545F4914F6CDD1Dull;
  const auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Vec3d& u = dirs_[points[i]];
    const double dx = next(), dy = next(), dz = next();
    const Vec3d w = u + Vec3d(dx, dy, dz) * 2e-6;
    moved[i] = w / Norm(w);
  }
  const auto P = [&](std::size_t i) -> const Vec3d& { return moved[i]; };
  std::size_t a = 0, b = 0, c = 0, d = 0;
  double best = 0;
  for (std::size_t i = 1; i < points.size(); ++i)
    if (Norm(P(i) - P(a)) > best) best = Norm(P(i) - P(a)), b = i;
  best = 0;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (Norm(Cross(P(i) - P(a), P(b) - P(a))) > best) best = Norm(Cross(P(i) - P(a), P(b) - P(a))), c = i;
  if (best < 1e-10) throw fail();
  const Vec3d n0 = Cross(P(b) - P(a), P(c) - P(a));
  best = 0;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (std::fabs(Dot(n0, P(i) - P(a))) > best) best = std::fabs(Dot(n0, P(i) - P(a))), d = i;
  if (best < 1e-12) throw fail();
  const Vec3d inside = (P(a) + P(b) + P(c) + P(d)) / 4.0;

  std::vector<Face> faces;
  const auto add = [&](std::size_t u, std::size_t v, std::size_t w) {
    Face f;
    f.v = {points[u], points[v], points[w]};
    Vec3d n = Cross(P(v) - P(u), P(w) - P(u));
    n = n / Norm(n);
    f.normal = n;
    f.offset = Dot(n, P(u));
    faces.push_back(f);
  };
  const auto addOutward = [&](std::size_t u, std::size_t v, std::size_t w) {
    if (Dot(Cross(P(v) - P(u), P(w) - P(u)), inside - P(u)) > 0) std::swap(v, w);
    add(u, v, w);
  };
  addOutward(a, b, c);
  addOutward(a, b, d);
  addOutward(a, c, d);
  addOutward(b, c, d);
  std::vector<std::size_t> position(dirs_.size(), kNoDirection);
  for (std::size_t i = 0; i < points.size(); ++i) position[points[i]] = i;

  // Insertion in a fixed scrambled order: grid order would build long
  // slivers first, and the order must not depend on anything but the input.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (i != a && i != b && i != c && i != d) order.push_back(i);
  for (std::size_t i = order.size(); i > 1; --i) {
    next();
    std::swap(order[i - 1], order[(state >> 33) % i]);
  }
  std::set<std::pair<std::size_t, std::size_t>> edges;
  std::vector<Face> kept;
  for (std::size_t i : order) {
    const Vec3d& p = P(i);
    edges.clear();
    kept.clear();
    for (const Face& f : faces) {
      if (Dot(f.normal, p) - f.offset > kPlaneEps) {
        for (int e = 0; e < 3; ++e) edges.emplace(f.v[e], f.v[(e + 1) % 3]);
      } else {
        kept.push_back(f);
      }
    }
    if (edges.empty()) continue;  // inside: cannot happen for distinct directions on the sphere
    faces.swap(kept);
    for (const auto& e : edges)
      if (!edges.count({e.second, e.first})) add(position[e.first], position[e.second], i);
  }
  // The faces as the true directions make them (those of a grid cell are
  // coplanar again).
  for (Face& f : faces) {
    const Vec3d &A = dirs_[f.v[0]], &B = dirs_[f.v[1]], &C = dirs_[f.v[2]];
    const Vec3d n = Cross(B - A, C - A);
    f.normal = n / Norm(n);
    f.offset = Dot(f.normal, A);
  }
  return faces;
}

bool DirectionGrid::LocateOnRing(const Ring& ring, double azimuthRad, std::size_t excluded, Neighbours& out) const {
  const std::size_t n = ring.dirs.size();
  const std::size_t left = n - static_cast<std::size_t>(std::count(ring.dirs.begin(), ring.dirs.end(), excluded));
  if (left < 2) return false;
  std::size_t hi =
      static_cast<std::size_t>(std::upper_bound(ring.azimuthRad.begin(), ring.azimuthRad.end(), azimuthRad) -
                               ring.azimuthRad.begin()) %
      n;
  std::size_t lo = (hi + n - 1) % n;
  if (ring.dirs[lo] == excluded) lo = (lo + n - 1) % n;
  if (ring.dirs[hi] == excluded) hi = (hi + 1) % n;
  for (std::size_t i = lo; i != hi; i = (i + 1) % n)
    if (i == ring.openingAfter) return false;
  double gap = ring.azimuthRad[hi] - ring.azimuthRad[lo];
  if (gap <= 0) gap += kTwoPi;
  double along = azimuthRad - ring.azimuthRad[lo];
  if (along < 0) along += kTwoPi;
  const double f = std::clamp(along / gap, 0.0, 1.0);
  // Along the arc (spherical linear weights); linear for arcs of half a
  // turn or more, where those break down.
  double wLo = 1.0 - f, wHi = f;
  if (gap < vesk::kPi - 1e-3) {
    wLo = std::sin((1.0 - f) * gap);
    wHi = std::sin(f * gap);
    const double sum = wLo + wHi;
    wLo /= sum;
    wHi /= sum;
  }
  const std::size_t base = out.count;
  out.dir[base] = ring.dirs[lo];
  out.weight[base] = wLo;
  out.dir[base + 1] = ring.dirs[hi];
  out.weight[base + 1] = wHi;
  out.count += 2;
  return true;
}

bool DirectionGrid::LocateOnFaces(const std::vector<Face>& faces, double holeOffset, const Vec3d& t,
                                  Neighbours& out) const {
  for (const Face& f : faces) {
    const double facing = Dot(f.normal, t);
    if (!(facing > 1e-12)) continue;
    const double s = f.offset / facing;
    if (!(s > 0)) continue;
    const Vec3d p = t * s;
    const Vec3d &A = dirs_[f.v[0]], &B = dirs_[f.v[1]], &C = dirs_[f.v[2]];
    const double area = Dot(f.normal, Cross(B - A, C - A));
    std::array<double, 3> lambda = {Dot(f.normal, Cross(B - p, C - p)) / area,
                                    Dot(f.normal, Cross(C - p, A - p)) / area,
                                    Dot(f.normal, Cross(A - p, B - p)) / area};
    if (lambda[0] < -1e-9 || lambda[1] < -1e-9 || lambda[2] < -1e-9) continue;
    if (f.offset < holeOffset) return false;  // the target lies in a hole of the measurement
    double sum = 0;
    for (double& l : lambda) sum += (l = std::max(l, 0.0));
    for (int i = 0; i < 3; ++i) {
      out.dir[i] = f.v[i];
      out.weight[i] = lambda[i] / sum;
    }
    out.count = 3;
    return true;
  }
  return false;
}

bool DirectionGrid::Nearest(const Vec3d& target, std::size_t excluded, Neighbours& out) const {
  std::size_t best = kNoDirection;
  double bestDot = -2;
  for (std::size_t dir = 0; dir < dirs_.size(); ++dir)
    if (dir != excluded && Dot(dirs_[dir], target) > bestDot) bestDot = Dot(dirs_[dir], target), best = dir;
  if (best == kNoDirection) return false;
  out = Neighbours();
  out.dir[0] = best;
  out.weight[0] = 1.0;
  out.count = 1;
  out.exact = Angle(dirs_[best], target) < kSameDirectionRad;
  return true;
}

void DirectionGrid::FinishDelayScale(const Vec3d& target, Neighbours& out) const {
  Vec3d p(0, 0, 0);
  for (std::size_t i = 0; i < out.count; ++i) p = p + dirs_[out.dir[i]] * out.weight[i];
  const double along = Dot(p, target);
  out.delayScale = along > 0.5 ? 1.0 / along : 1.0;
}

bool DirectionGrid::Locate(const Vec3d& target, Neighbours& out, std::size_t excluded, bool nearest) const {
  out = Neighbours();
  const double el = Elevation(target), az = Azimuth(target);
  bool inside = false;
  if (kind_ == GridKind::CIRCLE) {
    inside = std::fabs(el - rings_[0].elevationRad) <= kOnRingRad && LocateOnRing(rings_[0], az, excluded, out);
  } else if (kind_ == GridKind::CYLINDER) {
    std::size_t on = kNoDirection, below = kNoDirection;
    for (std::size_t r = 0; r < rings_.size(); ++r) {
      if (std::fabs(el - rings_[r].elevationRad) <= kOnRingRad) on = r;
      if (rings_[r].elevationRad < el) below = r;
    }
    if (on != kNoDirection) {
      inside = LocateOnRing(rings_[on], az, excluded, out);
    } else if (below != kNoDirection && below + 1 < rings_.size()) {
      const Ring &lo = rings_[below], &hi = rings_[below + 1];
      const double h = cylinderRadius_ * std::tan(el);  // height of the direction on the cylinder
      const double upper = std::clamp((h - lo.height) / (hi.height - lo.height), 0.0, 1.0);
      inside = LocateOnRing(lo, az, excluded, out) && LocateOnRing(hi, az, excluded, out);
      if (inside) {
        for (std::size_t i = 0; i < 2; ++i) out.weight[i] *= 1.0 - upper;
        for (std::size_t i = 2; i < 4; ++i) out.weight[i] *= upper;
      }
    }
  } else if (excluded == kNoDirection) {
    inside = LocateOnFaces(faces_, holeOffset_, target, out);
  } else {
    // The triangles around a left-out direction depend only on the
    // directions near it: the hull of those.
    std::vector<std::size_t> near;
    const double reach = std::min(vesk::kPi, 4.0 * spacingRad_);
    for (std::size_t dir = 0; dir < dirs_.size(); ++dir)
      if (dir != excluded && Angle(dirs_[dir], dirs_[excluded]) <= reach) near.push_back(dir);
    try {
      inside = LocateOnFaces(Hull(near), holeOffset_, target, out);
    } catch (const ToolError&) {
      inside = false;
    }
  }
  if (inside) {
    for (std::size_t i = 0; i < out.count; ++i) {
      if (Angle(dirs_[out.dir[i]], target) < kSameDirectionRad) {
        const std::size_t dir = out.dir[i];
        out = Neighbours();
        out.dir[0] = dir;
        out.weight[0] = 1.0;
        out.count = 1;
        out.exact = true;
        return true;
      }
    }
    FinishDelayScale(target, out);
    return true;
  }
  // A measured direction at the target counts even on the region's edge.
  Neighbours closest;
  if (!Nearest(target, excluded, closest)) return false;
  if (closest.exact || nearest) {
    out = closest;
    out.extrapolated = !closest.exact;
    return true;
  }
  return false;
}

std::string DirectionGrid::Describe() const {
  std::ostringstream text;
  text.precision(4);
  text << GridKindName(kind_) << " of " << dirs_.size() << " directions";
  if (kind_ == GridKind::CIRCLE) {
    text << " at elevation " << Degrees(rings_[0].elevationRad) << " deg";
    if (rings_[0].openingAfter != kNoDirection) text << " (partial)";
  } else if (kind_ == GridKind::CYLINDER) {
    text << " on " << rings_.size() << " heights (" << rings_.front().height << " to " << rings_.back().height << " m)";
  } else {
    text << " (elevations " << Degrees(rings_.front().elevationRad) << " to " << Degrees(rings_.back().elevationRad)
         << " deg)";
  }
  text << ", spacing " << Degrees(spacingRad_) << " deg";
  return text.str();
}

}  // namespace vesktools
