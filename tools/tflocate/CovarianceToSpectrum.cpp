#include <algorithm>
#include <cmath>

#include <Eigen/Eigenvalues>

#include "Locate.h"
#include "base/Cores.h"

namespace vesktools {
namespace {

constexpr std::size_t kChunkBins = 8;    // bins per piece of work (fixed: the sum does not depend on the cores)
constexpr std::size_t kTile = 512;       // directions per inner loop (stays in the first-level cache)
constexpr double kFloorMusic = 1e-6;     // smallest MUSIC denominator: caps a bin's peak at 1e6
constexpr std::size_t kThreadedFrom = 2048;  // directions; fewer are not worth a thread

// acc[d] += sum_i w[i] |v_i^H a_d|^2 over directions [d0, d1), with a_d read
// from re/im laid out [mic][direction] (stride D).
void Project(const std::vector<Eigen::VectorXcd>& v, const std::vector<double>& w, const float* re, const float* im,
             std::size_t M, std::size_t D, std::size_t d0, std::size_t d1, float* acc) {
  float tr[kTile], ti[kTile];
  const std::size_t n = d1 - d0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::fill(tr, tr + n, 0.0f);
    std::fill(ti, ti + n, 0.0f);
    for (std::size_t mic = 0; mic < M; ++mic) {
      const float er = static_cast<float>(v[i][mic].real()), ei = static_cast<float>(v[i][mic].imag());
      const float* ar = re + mic * D + d0;
      const float* ai = im + mic * D + d0;
      for (std::size_t d = 0; d < n; ++d) {
        tr[d] += er * ar[d] + ei * ai[d];
        ti[d] += er * ai[d] - ei * ar[d];
      }
    }
    const float wi = static_cast<float>(w[i]);
    for (std::size_t d = 0; d < n; ++d) acc[d] += wi * (tr[d] * tr[d] + ti[d] * ti[d]);
  }
}

}  // namespace

std::vector<double> CovarianceToSpectrum(const BlockCovariance& block, const Steering& steering, Method method,
                                         std::size_t sources) {
  const std::size_t M = steering.numMics, D = steering.numSources, B = steering.bins.size();
  const std::size_t chunks = (B + kChunkBins - 1) / kChunkBins;
  const std::size_t K = std::max<std::size_t>(1, std::min(sources, M - 1));
  std::vector<std::vector<double>> partial(chunks);
  vesk::OverCores(
      chunks,
      [&](std::size_t first, std::size_t last) {
        std::vector<float> acc(D), phaseRe, phaseIm;
        std::vector<Eigen::VectorXcd> vectors;
        std::vector<double> weights;
        for (std::size_t chunk = first; chunk < last; ++chunk) {
          std::vector<double>& sum = partial[chunk];
          sum.assign(D, 0.0);
          for (std::size_t bin = chunk * kChunkBins; bin < std::min(B, (chunk + 1) * kChunkBins); ++bin) {
            const Eigen::MatrixXcd& r = block.perBin[bin];
            if (!(r.trace().real() > 0)) continue;  // silence: no direction
            vectors.clear();
            weights.clear();
            const float* re = steering.Re(bin, 0);
            const float* im = steering.Im(bin, 0);
            if (method == Method::SRP_PHAT) {
              Eigen::MatrixXcd c(M, M);
              for (std::size_t i = 0; i < M; ++i)
                for (std::size_t j = 0; j < M; ++j) {
                  const double mag = std::abs(r(i, j));
                  c(i, j) = mag > 0 ? r(i, j) / mag : std::complex<double>(0);
                }
              Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> eig(c);
              for (std::size_t i = 0; i < M; ++i) {
                vectors.push_back(eig.eigenvectors().col(static_cast<Eigen::Index>(i)));
                weights.push_back(eig.eigenvalues()[static_cast<Eigen::Index>(i)]);
              }
              // The responses' phases alone.
              phaseRe.resize(M * D);
              phaseIm.resize(M * D);
              for (std::size_t k = 0; k < M * D; ++k) {
                const float mag = std::hypot(re[k], im[k]);
                phaseRe[k] = mag > 0 ? re[k] / mag : 0.0f;
                phaseIm[k] = mag > 0 ? im[k] / mag : 0.0f;
              }
              re = phaseRe.data();
              im = phaseIm.data();
            } else {
              Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> eig(r);
              for (std::size_t i = 0; i < K; ++i) {
                vectors.push_back(eig.eigenvectors().col(static_cast<Eigen::Index>(M - 1 - i)));
                weights.push_back(1.0);
              }
            }
            std::fill(acc.begin(), acc.end(), 0.0f);
            for (std::size_t d0 = 0; d0 < D; d0 += kTile)
              Project(vectors, weights, re, im, M, D, d0, std::min(D, d0 + kTile), acc.data() + d0);
            double largest = 0;
            if (method == Method::SRP_PHAT) {
              for (std::size_t d = 0; d < D; ++d) sum[d] += acc[d];
              continue;
            }
            for (std::size_t d = 0; d < D; ++d) {
              const double p = 1.0 / std::max(kFloorMusic, 1.0 - static_cast<double>(acc[d]));
              acc[d] = static_cast<float>(p);
              largest = std::max(largest, p);
            }
            const double scale = method == Method::NORMMUSIC ? 1.0 / largest : 1.0;
            for (std::size_t d = 0; d < D; ++d) sum[d] += acc[d] * scale;
          }
        }
      },
      D >= kThreadedFrom ? 1 : chunks + 1);
  std::vector<double> spectrum(D, 0.0);
  for (const auto& part : partial)
    for (std::size_t d = 0; d < D; ++d) spectrum[d] += part[d];
  return spectrum;
}

}  // namespace vesktools
