#include <algorithm>
#include <cmath>

#include <Eigen/Eigenvalues>

#include "CovarianceToSubspace.h"
#include "Locate.h"
#include "base/Cores.h"

namespace vesktools {
namespace {

constexpr std::size_t kChunkBins = 8;  // bins per piece of work (fixed: the sum does not depend on the cores)
constexpr std::size_t kTile = 512;     // directions per inner loop (stays in the first-level cache)
constexpr float kFloorMusic = 1e-6f;   // smallest MUSIC denominator: caps a bin's peak at 1e6
// Below this many (block, bin) pairs times directions plus the
// decompositions' share, a thread costs more than it saves.
constexpr std::size_t kThreadedFrom = 1u << 16;

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

namespace {

// One bin of one block: the vectors and weights to project on, and whether
// the spectrum is MUSIC's 1 / (1 - projection).
struct BinPlan {
  bool silent = false;
  std::vector<Eigen::VectorXcd> vectors;
  std::vector<double> weights;
};

BinPlan PlanBin(const Eigen::MatrixXcd& r, Method method, std::size_t K, SubspaceSolver& solver) {
  BinPlan plan;
  const std::size_t M = static_cast<std::size_t>(r.rows());
  if (!(r.trace().real() > 0)) {  // silence: no direction
    plan.silent = true;
    return plan;
  }
  if (method == Method::SRP_PHAT) {
    Eigen::MatrixXcd c(M, M);
    for (std::size_t i = 0; i < M; ++i)
      for (std::size_t j = 0; j < M; ++j) {
        const double mag = std::abs(r(i, j));
        c(i, j) = mag > 0 ? r(i, j) / mag : std::complex<double>(0);
      }
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> eig(c);
    for (std::size_t i = 0; i < M; ++i) {
      plan.vectors.push_back(eig.eigenvectors().col(static_cast<Eigen::Index>(i)));
      plan.weights.push_back(eig.eigenvalues()[static_cast<Eigen::Index>(i)]);
    }
  } else {
    solver.Largest(r, K, plan.vectors);
    plan.weights.assign(plan.vectors.size(), 1.0);
  }
  return plan;
}

}  // namespace

std::vector<std::vector<double>> CovariancesToSpectra(const std::vector<BlockCovariance>& blocks,
                                                      const Steering& steering, Method method, std::size_t sources) {
  const std::size_t M = steering.numMics, D = steering.numSources, B = steering.bins.size();
  const std::size_t N = blocks.size();
  const std::size_t chunks = (B + kChunkBins - 1) / kChunkBins;
  const std::size_t K = std::max<std::size_t>(1, std::min(sources, M - 1));
  std::vector<std::vector<double>> partial(chunks);  // [chunk][block * D + direction]
  vesk::OverCores(
      chunks,
      [&](std::size_t first, std::size_t last) {
        std::vector<float> acc(N * D), phaseRe, phaseIm;
        std::vector<BinPlan> plans(N);
        SubspaceSolver solver;
        std::vector<std::vector<Eigen::MatrixXcd>> covariances(N);  // [block][bin of the chunk]
        for (std::size_t chunk = first; chunk < last; ++chunk) {
          std::vector<double>& sum = partial[chunk];
          sum.assign(N * D, 0.0);
          for (std::size_t b = 0; b < N; ++b)
            BinCovariances(blocks[b], chunk * kChunkBins, std::min(B, (chunk + 1) * kChunkBins), covariances[b]);
          for (std::size_t bin = chunk * kChunkBins; bin < std::min(B, (chunk + 1) * kChunkBins); ++bin) {
            for (std::size_t b = 0; b < N; ++b)
              plans[b] = PlanBin(covariances[b][bin - chunk * kChunkBins], method, K, solver);
            const float* re = steering.Re(bin, 0);
            const float* im = steering.Im(bin, 0);
            if (method == Method::SRP_PHAT) {
              // The responses' phases alone.
              phaseRe.resize(M * D);
              phaseIm.resize(M * D);
              for (std::size_t k = 0; k < M * D; ++k) {
                const float mag = std::sqrt(re[k] * re[k] + im[k] * im[k]);
                phaseRe[k] = mag > 0 ? re[k] / mag : 0.0f;
                phaseIm[k] = mag > 0 ? im[k] / mag : 0.0f;
              }
              re = phaseRe.data();
              im = phaseIm.data();
            }
            std::fill(acc.begin(), acc.end(), 0.0f);
            // Every block's projections of one tile of directions while the
            // tile's responses are in the cache.
            for (std::size_t d0 = 0; d0 < D; d0 += kTile)
              for (std::size_t b = 0; b < N; ++b)
                if (!plans[b].silent)
                  Project(plans[b].vectors, plans[b].weights, re, im, M, D, d0, std::min(D, d0 + kTile),
                          acc.data() + b * D + d0);
            for (std::size_t b = 0; b < N; ++b) {
              if (plans[b].silent) continue;
              float* a = acc.data() + b * D;
              double* out = sum.data() + b * D;
              if (method == Method::SRP_PHAT) {
                for (std::size_t d = 0; d < D; ++d) out[d] += a[d];
                continue;
              }
              float largest = 0;
              for (std::size_t d = 0; d < D; ++d) {
                const float denominator = 1.0f - a[d];
                a[d] = 1.0f / (denominator > kFloorMusic ? denominator : kFloorMusic);
                largest = a[d] > largest ? a[d] : largest;
              }
              const double scale = method == Method::NORMMUSIC ? 1.0 / largest : 1.0;
              for (std::size_t d = 0; d < D; ++d) out[d] += a[d] * scale;
            }
          }
        }
      },
      N * B * (D + 64) >= kThreadedFrom ? 1 : chunks + 1);
  std::vector<std::vector<double>> spectra(N, std::vector<double>(D, 0.0));
  for (const auto& part : partial)
    for (std::size_t b = 0; b < N; ++b)
      for (std::size_t d = 0; d < D; ++d) spectra[b][d] += part[b * D + d];
  return spectra;
}

std::vector<double> CovarianceToSpectrum(const BlockCovariance& block, const Steering& steering, Method method,
                                         std::size_t sources) {
  return CovariancesToSpectra({block}, steering, method, sources)[0];
}

}  // namespace vesktools
