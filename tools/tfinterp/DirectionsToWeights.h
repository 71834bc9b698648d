// Measured directions to interpolation weights: which measured directions a
// target direction is made of, and with what weights.
#ifndef VESK_TFINTERP_DIRECTIONSTOWEIGHTS_H
#define VESK_TFINTERP_DIRECTIONSTOWEIGHTS_H

#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "veskio2/Common.h"

namespace vesktools {

using Vec3d = veskio2::Vector3<double>;

// Directions closer than this are one direction (radians).
constexpr double kSameDirectionRad = 1e-4;

enum class GridKind { CIRCLE, CYLINDER, SPHERE };
const char* GridKindName(GridKind kind);

// The measured directions a target is made of. `dir` are indices of
// distinct measured directions, `weight` sums to 1. `delayScale` (>= 1)
// multiplies the weights for the microphones' delays relative to the
// array's mean delay, so that a plane wave's relative delays (linear in the
// direction vector) come out exact: sum weight * dir = target / delayScale.
struct Neighbours {
  std::array<std::size_t, 4> dir{};
  std::array<double, 4> weight{};
  std::size_t count = 0;
  double delayScale = 1.0;
  bool exact = false;         // the target is measured direction dir[0]
  bool extrapolated = false;  // outside the measured region, nearest taken
};

constexpr std::size_t kNoDirection = std::numeric_limits<std::size_t>::max();

// The distinct measured directions of a transfer-function file, seen as one
// circle (one elevation or one height), a cylinder (several heights at one
// horizontal radius) or a sphere or part of one (triangulated by the convex
// hull of the directions). Positions in metres about the array's origin;
// coincident directions (the azimuths of a pole) count as one, the first of
// them in file order standing for all. Throws ToolError for a position at
// the origin or with a non-finite coordinate (naming the source), and for
// directions that span no circle and no solid angle.
class DirectionGrid {
public:
  explicit DirectionGrid(const std::vector<Vec3d>& positions);

  GridKind Kind() const { return kind_; }
  std::size_t NumDirections() const { return dirs_.size(); }
  const Vec3d& Direction(std::size_t dir) const { return dirs_[dir]; }
  // The file's source that stands for distinct direction `dir`.
  std::size_t Source(std::size_t dir) const { return sourceOf_[dir]; }
  // Largest angle from a direction to its nearest other one (radians).
  double SpacingRad() const { return spacingRad_; }
  std::string Describe() const;

  // Weights for unit direction `target`, leaving out distinct direction
  // `excluded` (kNoDirection: none). False when the target lies outside
  // the measured region (below the lowest elevation, in the opening of a
  // partial circle, ...), unless `nearest` is set: then the nearest
  // direction is taken and `extrapolated` set. A target within
  // kSameDirectionRad of a direction is that direction (`exact`).
  bool Locate(const Vec3d& target, Neighbours& out, std::size_t excluded = kNoDirection, bool nearest = false) const;

private:
  struct Ring {
    double elevationRad = 0;
    double height = 0;                        // metres, cylinders only
    std::vector<std::size_t> dirs;            // by azimuth
    std::vector<double> azimuthRad;           // [0, 2 pi), same order
    std::size_t openingAfter = kNoDirection;  // index in dirs: no interpolation across its gap to the next
  };
  struct Face {
    std::array<std::size_t, 3> v;  // outward
    Vec3d normal;                  // unit, outward
    double offset;                 // normal . vertex: cosine of the circum-cap radius
  };

  bool LocateOnRing(const Ring& ring, double azimuthRad, std::size_t excluded, Neighbours& out) const;
  bool LocateOnFaces(const std::vector<Face>& faces, double holeOffset, const Vec3d& target, Neighbours& out) const;
  bool Nearest(const Vec3d& target, std::size_t excluded, Neighbours& out) const;
  std::vector<Face> Hull(const std::vector<std::size_t>& points) const;
  void FinishDelayScale(const Vec3d& target, Neighbours& out) const;

  GridKind kind_ = GridKind::SPHERE;
  std::vector<Vec3d> dirs_;
  std::vector<std::size_t> sourceOf_;
  std::vector<Ring> rings_;  // by elevation (circle: one)
  std::vector<Face> faces_;  // sphere
  double holeOffset_ = 0;    // faces with a smaller offset span a hole in the measurement
  double spacingRad_ = 0;
  double cylinderRadius_ = 0;  // metres, horizontal
};

}  // namespace vesktools

#endif
