#include "DelaysToArrayEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include <Eigen/Dense>

#include "ToolError.h"

namespace vesktools {
namespace {

using Eigen::Matrix3d;
using Eigen::MatrixXd;
using Eigen::Vector3d;
using Eigen::VectorXd;

Vector3d ToEigen(const Vec3& v) { return Vector3d(v.x, v.y, v.z); }
Vec3 FromEigen(const Vector3d& v) { return Vec3(v.x(), v.y(), v.z()); }

struct MicFit {
  Vector3d position;                   // metres
  double latency = 0;                  // samples
  Matrix3d positionCovariance;         // square metres
  double latencyVariance = 0;          // square samples
  double rms = 0;                      // samples, over the sources used
  std::vector<double> residual;        // [src] samples; 0 for the sources left out
  std::vector<Vector3d> undetermined;  // unit directions kept at the file's value
};

// A direction within about 11 degrees of an axis is named after it.
constexpr double kAxisCosine = 0.98;

// "x", "y" or "z" for a direction near an axis, else its components.
std::string DirectionName(const Vector3d& v) {
  Eigen::Index axis = 0;
  v.cwiseAbs().maxCoeff(&axis);
  if (std::fabs(v[axis]) > kAxisCosine) return std::string(1, "xyz"[axis]);
  char text[64];
  const double sign = v[axis] < 0 ? -1.0 : 1.0;  // one name for v and -v
  std::snprintf(text, sizeof text, "(%.2f, %.2f, %.2f)", sign * v.x(), sign * v.y(), sign * v.z());
  return text;
}

// One microphone: position p (metres) and latency L (samples) minimising
// sum over the sources used of (delay - k |source - p| - L)^2, k = samples
// per metre. The position moves only within the span of the directions
// the sources' direction cosines (seen from the file's position) vary
// along by at least `spread` RMS about their mean; the latency column
// absorbs that mean, so a direction along which every source looks alike
// cannot be told from latency.
MicFit FitMicrophone(const ArrayEstimateInput& in, std::size_t mic, const std::vector<char>& use, double spread) {
  const double k = in.samplingHz / in.speedOfSound;
  const Vector3d start = ToEigen(in.micPositions[mic]);
  std::vector<std::size_t> used;
  for (std::size_t s = 0; s < use.size(); ++s)
    if (use[s]) used.push_back(s);
  const auto n = static_cast<Eigen::Index>(used.size());

  Vector3d meanCosine = Vector3d::Zero();
  std::vector<Vector3d> cosines;
  for (std::size_t s : used) {
    cosines.push_back((start - ToEigen(in.sourcePositions[s])).normalized());
    meanCosine += cosines.back();
  }
  meanCosine /= static_cast<double>(n);
  Matrix3d spreadMatrix = Matrix3d::Zero();
  for (const Vector3d& u : cosines) spreadMatrix += (u - meanCosine) * (u - meanCosine).transpose();
  spreadMatrix /= static_cast<double>(n);
  const Eigen::SelfAdjointEigenSolver<Matrix3d> eigen(spreadMatrix);
  MicFit fit;
  std::vector<Vector3d> candidates;
  for (int i = 0; i < 3; ++i) {
    if (eigen.eigenvalues()[i] >= spread * spread) {
      candidates.push_back(eigen.eigenvectors().col(i));
      continue;
    }
    // An undetermined direction close to an axis is that axis, so that the
    // coordinate is kept exactly, not mixed into the others by a fraction.
    Vector3d v = eigen.eigenvectors().col(i);
    Eigen::Index axis = 0;
    if (v.cwiseAbs().maxCoeff(&axis) > kAxisCosine) v = Vector3d::Unit(axis);
    fit.undetermined.push_back(v);
  }
  // The free directions: the determined ones made orthogonal to the kept
  // ones (Gram-Schmidt).
  std::vector<Vector3d> free, done = fit.undetermined;
  for (Vector3d v : candidates) {
    for (const Vector3d& w : done) v -= v.dot(w) * w;
    if (v.norm() < 1e-6) continue;
    v.normalize();
    free.push_back(v);
    done.push_back(v);
  }
  const auto q = static_cast<Eigen::Index>(free.size());
  MatrixXd basis(3, q);
  for (Eigen::Index j = 0; j < q; ++j) basis.col(j) = free[static_cast<std::size_t>(j)];

  auto distance = [&](const Vector3d& p, std::size_t s) { return (p - ToEigen(in.sourcePositions[s])).norm(); };
  Vector3d p = start;
  double latency = 0;
  for (std::size_t s : used) latency += in.delays[s][mic] - k * distance(p, s);
  latency /= static_cast<double>(n);
  MatrixXd jacobian(n, q + 1);
  VectorXd residual(n);
  auto linearise = [&]() {
    for (Eigen::Index row = 0; row < n; ++row) {
      const std::size_t s = used[static_cast<std::size_t>(row)];
      const Vector3d toMic = p - ToEigen(in.sourcePositions[s]);
      const double r = toMic.norm();
      jacobian.block(row, 0, 1, q) = (k / r) * toMic.transpose() * basis;
      jacobian(row, q) = 1.0;
      residual[row] = in.delays[s][mic] - k * r - latency;
    }
  };
  // The model is nearly linear in p for sources far beyond the array's
  // size: a handful of steps converge to rounding.
  for (int iteration = 0; iteration < 30; ++iteration) {
    linearise();
    const VectorXd step = (jacobian.transpose() * jacobian).ldlt().solve(jacobian.transpose() * residual);
    p += basis * step.head(q);
    latency += step[q];
    if ((basis * step.head(q)).norm() < 1e-10 && std::fabs(step[q]) < 1e-8) break;
  }
  linearise();
  const double dof = static_cast<double>(n - q - 1);
  const double sigma2 = residual.squaredNorm() / dof;
  const MatrixXd covariance = sigma2 * (jacobian.transpose() * jacobian).inverse();
  fit.position = p;
  fit.latency = latency;
  fit.positionCovariance = basis * covariance.topLeftCorner(q, q) * basis.transpose();
  fit.latencyVariance = covariance(q, q);
  fit.rms = std::sqrt(residual.squaredNorm() / static_cast<double>(n));
  fit.residual.assign(use.size(), 0.0);
  for (Eigen::Index row = 0; row < n; ++row) fit.residual[used[static_cast<std::size_t>(row)]] = residual[row];
  return fit;
}

void Direction(const Vec3& v, double& azimuthDeg, double& elevationDeg) {
  azimuthDeg = std::atan2(v.y, v.x) * 180.0 / vesk::kPi;
  if (azimuthDeg < 0) azimuthDeg += 360.0;
  elevationDeg = std::atan2(v.z, std::hypot(v.x, v.y)) * 180.0 / vesk::kPi;
}

}  // namespace

ArrayEstimate DelaysToArrayEstimate(const ArrayEstimateInput& in, const Thresholds& limits) {
  const std::size_t numSources = in.sourcePositions.size(), numMics = in.micPositions.size();
  if (in.delays.size() != numSources || in.sourceExcluded.size() != numSources || in.micLabels.size() != numMics ||
      numMics == 0)
    throw ToolError("delays, positions and labels disagree in size");
  for (const auto& row : in.delays)
    if (row.size() != numMics) throw ToolError("delays, positions and labels disagree in size");
  ArrayEstimate out;
  Vec3 centre;
  for (const Vec3& m : in.micPositions) centre = centre + m;
  centre = centre / static_cast<double>(numMics);
  std::vector<char> use(numSources, 1);
  auto exclude = [&](std::size_t s, const std::string& reason) {
    use[s] = 0;
    ExcludedSource e;
    e.src = s;
    Direction(in.sourcePositions[s] - centre, e.azimuthDeg, e.elevationDeg);
    e.reason = reason;
    out.excluded.push_back(e);
  };
  for (std::size_t s = 0; s < numSources; ++s) {
    if (!in.sourceExcluded[s].empty()) {
      exclude(s, in.sourceExcluded[s]);
      continue;
    }
    for (double d : in.delays[s])
      if (!std::isfinite(d)) {
        exclude(s, "a delay that is not a finite number");
        break;
      }
  }

  constexpr std::size_t kMinSources = 8;
  std::vector<MicFit> fits;
  auto fitAll = [&]() {
    const auto count = static_cast<std::size_t>(std::count(use.begin(), use.end(), 1));
    if (count < kMinSources)
      throw ToolError("--estimate-array: " + std::to_string(count) + " of " + std::to_string(numSources) +
                      " sources remain for the fit; it needs at least " + std::to_string(kMinSources));
    fits.clear();
    for (std::size_t m = 0; m < numMics; ++m) fits.push_back(FitMicrophone(in, m, use, limits.undeterminedSpread));
    out.sourcesUsed = count;
  };
  fitAll();
  // A direction the geometry check let pass may still fit the array badly
  // (a reflection taken for the direct sound): left out, and the fit made
  // again without it.
  std::vector<double> sourceRms(numSources, 0.0), usedRms;
  for (std::size_t s = 0; s < numSources; ++s) {
    if (!use[s]) continue;
    for (const MicFit& f : fits) sourceRms[s] += f.residual[s] * f.residual[s];
    sourceRms[s] = std::sqrt(sourceRms[s] / static_cast<double>(numMics));
    usedRms.push_back(sourceRms[s]);
  }
  const double typical = Median(usedRms);
  const double outlierLimit = std::max(limits.fitOutlierMinSamples, limits.fitOutlierRelative * typical);
  bool refit = false;
  for (std::size_t s = 0; s < numSources; ++s)
    if (use[s] && sourceRms[s] > outlierLimit) {
      exclude(s, "fit residual " + Fixed(sourceRms[s], 3) + " samples RMS, typical " + Fixed(typical, 3));
      refit = true;
    }
  if (refit) fitAll();
  std::sort(out.excluded.begin(), out.excluded.end(),
            [](const ExcludedSource& a, const ExcludedSource& b) { return a.src < b.src; });

  double latencySum = 0, latencyVariance = 0;
  for (const MicFit& f : fits) {
    latencySum += f.latency;
    latencyVariance += f.latencyVariance;
  }
  out.commonLatencySamples = latencySum / static_cast<double>(numMics);
  out.commonLatencySigmaSamples = std::sqrt(latencyVariance) / static_cast<double>(numMics);
  std::map<std::string, std::vector<std::size_t>> undeterminedMics;  // axis -> microphones
  std::ostringstream moved, late;
  std::size_t numMoved = 0, numLate = 0;
  for (std::size_t m = 0; m < numMics; ++m) {
    const MicFit& f = fits[m];
    MicEstimate e;
    e.filePosition = in.micPositions[m];
    e.fittedPosition = FromEigen(f.position);
    e.sigmaMetres = Vec3(std::sqrt(f.positionCovariance(0, 0)), std::sqrt(f.positionCovariance(1, 1)),
                         std::sqrt(f.positionCovariance(2, 2)));
    const Vector3d difference = f.position - ToEigen(in.micPositions[m]);
    e.differenceMm = 1000.0 * difference.norm();
    if (difference.norm() > 0) {
      const Vector3d along = difference.normalized();
      e.differenceSigmaMm = 1000.0 * std::sqrt(std::max(0.0, along.dot(f.positionCovariance * along)));
    }
    e.latencySamples = f.latency - out.commonLatencySamples;
    e.latencySigmaSamples = std::sqrt(f.latencyVariance);
    e.rmsResidualSamples = f.rms;
    for (const Vector3d& v : f.undetermined) {
      e.undetermined.push_back(DirectionName(v));
      undeterminedMics[e.undetermined.back()].push_back(m);
    }
    if (e.differenceMm > std::max(limits.arrayPositionMm, limits.arrayPositionSigmas * e.differenceSigmaMm)) {
      moved << (numMoved++ ? ", " : "") << in.micLabels[m] << " by " << Fixed(e.differenceMm, 1) << " mm (+-"
            << Fixed(e.differenceSigmaMm, 2) << ")";
    }
    if (std::fabs(e.latencySamples) > limits.latencySamples + limits.latencySigmas * e.latencySigmaSamples) {
      late << (numLate++ ? ", " : "") << in.micLabels[m] << " " << (e.latencySamples > 0 ? "+" : "")
           << Fixed(e.latencySamples, 2) << " samples (" << Fixed(e.latencySamples / in.samplingHz * 1e6, 1)
           << " us, +-" << Fixed(e.latencySigmaSamples, 2) << ")";
    }
    out.mics.push_back(e);
  }
  if (numMoved)
    out.findings.push_back(
        Finding{"array-position", std::to_string(numMoved) + " of " + std::to_string(numMics) +
                                      " microphones lie further than " + Fixed(limits.arrayPositionMm, 1) +
                                      " mm (and " + Fixed(limits.arrayPositionSigmas, 0) +
                                      " standard deviations) from the array file's positions: " + moved.str() +
                                      "; correct the array file (--write-mic writes the fitted one)"});
  if (numLate)
    out.findings.push_back(
        Finding{"channel-latency", std::to_string(numLate) + " of " + std::to_string(numMics) +
                                       " channels lag (+) or lead (-) the mean of the channels by more than " +
                                       Fixed(limits.latencySamples, 1) + " samples: " + late.str() +
                                       "; a converter's or cable's own delay: correct it before the delays are used"});
  for (const auto& axis : undeterminedMics) {
    std::string which = "every microphone";
    if (axis.second.size() < numMics) {
      which.clear();
      for (std::size_t m : axis.second) which += (which.empty() ? "" : ", ") + in.micLabels[m];
    }
    out.notes.push_back("the sources' directions do not span " + axis.first +
                        " (RMS spread of their direction cosines below " + Fixed(limits.undeterminedSpread, 2) +
                        "): " + axis.first + " is not determined and is kept at the array file's value for " + which +
                        "; sources at more elevations would fix it");
  }
  return out;
}

}  // namespace vesktools
