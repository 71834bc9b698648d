#include <algorithm>
#include <cmath>

#include "Locate.h"
#include "base/Cores.h"

namespace vesktools {
namespace {

constexpr std::size_t kChunkBins = 8;  // bins per piece of work (fixed: the sum does not depend on the cores)
constexpr std::size_t kTile = 512;     // directions per inner loop (stays in the first-level cache)
constexpr float kFloorMusic = 1e-6f;   // smallest MUSIC denominator: caps a bin's peak at 1e6
// Below this many (block, bin) pairs times directions, a thread costs more
// than it saves.
constexpr std::size_t kThreadedFrom = 1u << 16;

// acc[d] += sum_v w[v] |u_v^H a_d|^2 over directions [d0, d1), for the
// `count` vectors u_v in ur/ui[v * M + mic] and a_d read from re/im laid
// out [mic][direction] (stride D).
void Project(const float* ur, const float* ui, const float* w, std::size_t count, const float* re, const float* im,
             std::size_t M, std::size_t D, std::size_t d0, std::size_t d1, float* acc) {
  float tr[kTile], ti[kTile];
  const std::size_t n = d1 - d0;
  for (std::size_t v = 0; v < count; ++v) {
    std::fill(tr, tr + n, 0.0f);
    std::fill(ti, ti + n, 0.0f);
    for (std::size_t mic = 0; mic < M; ++mic) {
      const float er = ur[v * M + mic], ei = ui[v * M + mic];
      const float* ar = re + mic * D + d0;
      const float* ai = im + mic * D + d0;
      for (std::size_t d = 0; d < n; ++d) {
        tr[d] += er * ar[d] + ei * ai[d];
        ti[d] += er * ai[d] - ei * ar[d];
      }
    }
    const float wv = w[v];
    for (std::size_t d = 0; d < n; ++d) acc[d] += wv * (tr[d] * tr[d] + ti[d] * ti[d]);
  }
}

}  // namespace

std::vector<std::vector<double>> CovariancesToSpectra(std::vector<BlockCovariance>& blocks, const Steering& steering,
                                                      Method method, std::size_t sources, SubspaceWorkspace* here) {
  SubspaceWorkspace own;
  for (BlockCovariance& block : blocks) BlockToSubspaces(block, steering, method, sources, here ? *here : own);
  const std::size_t M = steering.numMics, D = steering.numSources, B = steering.bins.size();
  const std::size_t N = blocks.size();
  const std::size_t chunks = (B + kChunkBins - 1) / kChunkBins;
  // Each chunk's sums, [block * D + direction], are added up in chunk order:
  // on one thread as each chunk ends, else once all have.
  std::vector<std::vector<double>> partial(here ? 1 : chunks);
  std::vector<std::vector<double>> spectra(N, std::vector<double>(D, 0.0));
  const auto fold = [&](const std::vector<double>& part) {
    for (std::size_t b = 0; b < N; ++b)
      for (std::size_t d = 0; d < D; ++d) spectra[b][d] += part[b * D + d];
  };
  vesk::OverCores(
      chunks,
      [&](std::size_t first, std::size_t last) {
        std::vector<float> acc(N * D), phaseRe, phaseIm;
        for (std::size_t chunk = first; chunk < last; ++chunk) {
          std::vector<double>& sum = partial[here ? 0 : chunk];
          sum.assign(N * D, 0.0);
          for (std::size_t bin = chunk * kChunkBins; bin < std::min(B, (chunk + 1) * kChunkBins); ++bin) {
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
              for (std::size_t b = 0; b < N; ++b) {
                const BlockSubspaces& u = blocks[b].subspaces;
                if (u.silent[bin]) continue;
                const std::size_t at = bin * u.perBin;
                Project(u.re.data() + at * M, u.im.data() + at * M, u.weights.data() + at, u.perBin, re, im, M, D, d0,
                        std::min(D, d0 + kTile), acc.data() + b * D + d0);
              }
            for (std::size_t b = 0; b < N; ++b) {
              if (blocks[b].subspaces.silent[bin]) continue;
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
          if (here) fold(sum);
        }
      },
      !here && N * B * D >= kThreadedFrom ? 1 : chunks + 1);
  if (!here)
    for (const auto& part : partial) fold(part);
  return spectra;
}

std::vector<double> CovarianceToSpectrum(BlockCovariance block, const Steering& steering, Method method,
                                         std::size_t sources) {
  std::vector<BlockCovariance> one;
  one.push_back(std::move(block));
  return CovariancesToSpectra(one, steering, method, sources)[0];
}

}  // namespace vesktools
