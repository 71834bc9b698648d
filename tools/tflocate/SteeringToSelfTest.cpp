#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "Locate.h"

namespace vesktools {

SelfTest SteeringToSelfTest(const Steering& steering, const SearchGrid& grid, Method method,
                            const SelfTestSettings& settings) {
  const std::size_t M = steering.numMics, D = steering.numSources, B = steering.bins.size();
  const std::size_t P = grid.points.size();
  SelfTest test;
  test.snrDb = settings.snrDb;
  // Unit-norm responses: per microphone, signal power 1 / M; the noise is
  // the SNR below it.
  const double noiseStd = std::sqrt(1.0 / M / std::pow(10.0, settings.snrDb / 10.0));
  std::mt19937_64 random(20261209);
  std::normal_distribution<double> gauss(0.0, std::sqrt(0.5));  // real and imaginary parts of CN(0, 1)
  std::vector<double> errors, resolutions;
  for (std::size_t src = 0; src < D; ++src) {
    BlockCovariance block;
    block.frames = settings.snapshots;
    block.perBin.assign(B, Eigen::MatrixXcd::Zero(M, M));
    Eigen::VectorXcd x(M);
    for (std::size_t bin = 0; bin < B; ++bin) {
      for (std::size_t t = 0; t < settings.snapshots; ++t) {
        const std::complex<double> g(gauss(random), gauss(random));
        for (std::size_t mic = 0; mic < M; ++mic) {
          const std::complex<double> a(steering.Re(bin, mic)[src], steering.Im(bin, mic)[src]);
          x[static_cast<Eigen::Index>(mic)] = a * g + noiseStd * std::complex<double>(gauss(random), gauss(random));
        }
        block.perBin[bin].noalias() += x * x.adjoint();
      }
      block.perBin[bin] /= static_cast<double>(settings.snapshots);
    }
    const std::vector<double> spectrum = CovarianceToSpectrum(std::move(block), steering, method, 1);
    // Leave the source's own direction out.
    const std::size_t own = grid.pointOfSource[src];
    std::vector<double> value(P, -HUGE_VAL);
    for (std::size_t s = 0; s < D; ++s)
      if (grid.pointOfSource[s] != own)
        value[grid.pointOfSource[s]] = std::max(value[grid.pointOfSource[s]], spectrum[s]);
    SelfTestDirection d;
    d.source = src;
    d.truth = grid.points[own];
    std::size_t best = own;
    for (std::size_t p = 0; p < P; ++p)
      if (p != own && (best == own || value[p] > value[best])) best = p;
    d.nearestOtherDeg = 0;
    if (best != own) {
      d.estimate = grid.points[best];
      d.estimateSource = grid.firstSource[best];
      d.errorDeg = AngleDeg(d.truth, d.estimate);
      d.nearestOtherDeg = 1e9;
      for (std::size_t p = 0; p < P; ++p)
        if (p != own) d.nearestOtherDeg = std::min(d.nearestOtherDeg, AngleDeg(d.truth, grid.points[p]));
    } else {
      d.estimate = d.truth;
      d.estimateSource = src;
    }
    // How alike the other directions' responses are: mean over the band of
    // |a_src^H a_other|^2.
    std::vector<double> similarity(D, 0.0);
    for (std::size_t bin = 0; bin < B; ++bin) {
      std::vector<double> tr(D, 0.0), ti(D, 0.0);
      for (std::size_t mic = 0; mic < M; ++mic) {
        const double er = steering.Re(bin, mic)[src], ei = steering.Im(bin, mic)[src];
        const float* ar = steering.Re(bin, mic);
        const float* ai = steering.Im(bin, mic);
        for (std::size_t s = 0; s < D; ++s) {
          tr[s] += er * ar[s] + ei * ai[s];
          ti[s] += er * ai[s] - ei * ar[s];
        }
      }
      for (std::size_t s = 0; s < D; ++s) similarity[s] += (tr[s] * tr[s] + ti[s] * ti[s]) / B;
    }
    // Resolution: the angle within which the responses stay at least half
    // alike (the nearest direction less alike than that).
    double resolution = 180.0;
    for (std::size_t s = 0; s < D; ++s)
      if (similarity[s] < 0.5) resolution = std::min(resolution, AngleDeg(d.truth, grid.points[grid.pointOfSource[s]]));
    d.resolutionDeg = resolution;
    // An ambiguity: the most alike direction beyond this one's own lobe
    // (where the responses first became less than half alike), when it is
    // nearly as alike as the direction itself.
    const double lobeDeg = std::max(resolution, settings.ambiguityMinDeg);
    std::size_t far = D;
    for (std::size_t s = 0; s < D; ++s)
      if (AngleDeg(d.truth, grid.points[grid.pointOfSource[s]]) > lobeDeg &&
          (far == D || similarity[s] > similarity[far]))
        far = s;
    if (far < D && similarity[far] >= settings.ambiguitySimilarity) {
      bool known = false;
      for (const Ambiguity& a : test.ambiguities)
        if (a.source == far && a.other == src) known = true;
      if (!known) test.ambiguities.push_back({src, far, similarity[far]});
    }
    errors.push_back(d.errorDeg);
    resolutions.push_back(resolution);
    test.directions.push_back(d);
  }
  if (!errors.empty()) {
    double sum = 0;
    for (double e : errors) sum += e;
    test.meanErrorDeg = sum / errors.size();
    test.maxErrorDeg = *std::max_element(errors.begin(), errors.end());
    std::sort(errors.begin(), errors.end());
    std::sort(resolutions.begin(), resolutions.end());
    const std::size_t n = errors.size();
    test.medianErrorDeg = n % 2 ? errors[n / 2] : 0.5 * (errors[n / 2 - 1] + errors[n / 2]);
    test.resolutionDeg = n % 2 ? resolutions[n / 2] : 0.5 * (resolutions[n / 2 - 1] + resolutions[n / 2]);
  }
  return test;
}

}  // namespace vesktools
