// A block's samples (or given covariances) into the vectors that the search
// projects each band bin's responses on.
#include <algorithm>
#include <cmath>
#include <memory>

#include <Eigen/Eigenvalues>

#include "CovarianceToSubspace.h"
#include "Locate.h"
#include "base/Constants.h"
#include "base/RealFft.h"

namespace vesktools {
namespace {

constexpr std::size_t kGroup = 4;  // frames whose products are summed before they join the block's sums

// s[k] += sum over the group's frames g of x_i conj(x_j) at bin k < n, for
// x_i = (ar + i ai)[g * stride + k] and x_j likewise from b: the sums are
// read and written once per group. The group's sum is in single precision,
// as the spectra come from the FFT (about 1e-7 of the value); the block's
// sums in double. Plain arithmetic: a std::complex product checks for
// infinities.
void AddProducts(const float* __restrict ar, const float* __restrict ai, const float* __restrict br,
                 const float* __restrict bi, std::size_t stride, std::size_t n, double* __restrict sr,
                 double* __restrict si) {
  for (std::size_t k = 0; k < n; ++k) {
    float re = 0, im = 0;
    for (std::size_t g = 0; g < kGroup; ++g) {
      const std::size_t at = k + g * stride;
      re += ar[at] * br[at] + ai[at] * bi[at];
      im += ai[at] * br[at] - ar[at] * bi[at];
    }
    sr[k] += static_cast<double>(re);
    si[k] += static_cast<double>(im);
  }
}

}  // namespace

struct SubspaceWorkspace::Impl {
  void Run(BlockCovariance& block, const Steering& steering, Method method, std::size_t sources) {
    steering_ = &steering;
    method_ = method;
    M_ = steering.numMics;
    B_ = steering.bins.size();
    K_ = std::max<std::size_t>(1, std::min(sources, M_ > 1 ? M_ - 1 : 1));
    if (block.perBin.empty())
      FromSamples(block);
    else
      FromGiven(block);
    Decompose(block);
    std::vector<float>().swap(block.samples);
  }

  // The mean over the block's frames of x x^H per band bin into cov_,
  // [bin][M x M column-major]. The sums run over the bins in the inner loop
  // (vectorised), each in a fixed order, so the result does not depend on
  // the core.
  void FromSamples(const BlockCovariance& block) {
    const std::size_t M = M_, B = B_, N = steering_->nfft;
    if (window_.size() != N) {
      fft_ = std::make_unique<vesk::RealFft<float>>(N);
      window_.resize(N);  // periodic Hann
      for (std::size_t t = 0; t < N; ++t) window_[t] = static_cast<float>(0.5 - 0.5 * std::cos(2 * vesk::kPi * t / N));
    }
    const std::size_t pairs = M * (M + 1) / 2;
    xr_.resize(kGroup * M * B);
    xi_.resize(kGroup * M * B);
    sr_.assign(pairs * B, 0.0);
    si_.assign(pairs * B, 0.0);
    for (std::size_t f0 = 0; f0 < block.frames; f0 += kGroup) {
      // A group of frames' spectra, [frame][mic][bin]; a short last group is
      // padded with zeros.
      for (std::size_t g = 0; g < kGroup; ++g)
        for (std::size_t mic = 0; mic < M; ++mic) {
          float* xr = xr_.data() + (g * M + mic) * B;
          float* xi = xi_.data() + (g * M + mic) * B;
          if (f0 + g >= block.frames) {
            std::fill(xr, xr + B, 0.0f);
            std::fill(xi, xi + B, 0.0f);
            continue;
          }
          const float* t = block.samples.data() + mic * block.span + (f0 + g) * block.hopSamples;
          float* in = fft_->Time();
          for (std::size_t i = 0; i < N; ++i) in[i] = t[i] * window_[i];
          fft_->Forward();
          const std::complex<float>* spectrum = fft_->Spectrum();
          for (std::size_t k = 0; k < B; ++k) {
            xr[k] = spectrum[steering_->bins[k]].real();
            xi[k] = spectrum[steering_->bins[k]].imag();
          }
        }
      std::size_t pair = 0;
      for (std::size_t i = 0; i < M; ++i)
        for (std::size_t j = i; j < M; ++j, ++pair)
          AddProducts(xr_.data() + i * B, xi_.data() + i * B, xr_.data() + j * B, xi_.data() + j * B, M * B, B,
                      sr_.data() + pair * B, si_.data() + pair * B);
    }
    const double scale = 1.0 / static_cast<double>(block.frames);
    cov_.resize(B * M * M);
    for (std::size_t k = 0; k < B; ++k) {
      std::complex<double>* m = cov_.data() + k * M * M;
      std::size_t pair = 0;
      for (std::size_t i = 0; i < M; ++i)
        for (std::size_t j = i; j < M; ++j, ++pair) {
          const std::complex<double> v(sr_[pair * B + k] * scale, si_[pair * B + k] * scale);
          m[i + j * M] = v;
          m[j + i * M] = std::conj(v);
        }
    }
  }

  void FromGiven(const BlockCovariance& block) {
    const std::size_t M = M_;
    cov_.resize(B_ * M * M);
    for (std::size_t k = 0; k < B_; ++k)
      for (std::size_t j = 0; j < M; ++j)
        for (std::size_t i = 0; i < M; ++i)
          cov_[k * M * M + i + j * M] = block.perBin[k](static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
  }

  void Decompose(BlockCovariance& block) {
    const std::size_t M = M_, B = B_;
    const std::size_t perBin = method_ == Method::SRP_PHAT ? M : K_;
    BlockSubspaces& out = block.subspaces;
    out.perBin = perBin;
    out.silent.assign(B, 0);
    out.re.assign(B * perBin * M, 0.0f);
    out.im.assign(out.re.size(), 0.0f);
    out.weights.assign(B * perBin, 1.0f);
    vectors_.resize(perBin * M);
    for (std::size_t k = 0; k < B; ++k) {
      const std::complex<double>* r = cov_.data() + k * M * M;
      double trace = 0;
      for (std::size_t mic = 0; mic < M; ++mic) trace += r[mic * (M + 1)].real();
      if (!(trace > 0)) {  // silence: no direction
        out.silent[k] = 1;
        continue;
      }
      if (method_ == Method::SRP_PHAT) {
        Eigen::MatrixXcd c(M, M);
        for (std::size_t i = 0; i < M; ++i)
          for (std::size_t j = 0; j < M; ++j) {
            const std::complex<double> v = r[i + j * M];
            const double mag = std::abs(v);
            c(i, j) = mag > 0 ? v / mag : std::complex<double>(0);
          }
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> eig(c);
        for (std::size_t v = 0; v < M; ++v) {
          for (std::size_t mic = 0; mic < M; ++mic)
            vectors_[v * M + mic] = eig.eigenvectors()(static_cast<Eigen::Index>(mic), static_cast<Eigen::Index>(v));
          out.weights[k * perBin + v] = static_cast<float>(eig.eigenvalues()[static_cast<Eigen::Index>(v)]);
        }
      } else {
        solver_.Largest(r, M, K_, vectors_.data());
      }
      for (std::size_t v = 0; v < perBin * M; ++v) {
        out.re[k * perBin * M + v] = static_cast<float>(vectors_[v].real());
        out.im[k * perBin * M + v] = static_cast<float>(vectors_[v].imag());
      }
    }
  }

  const Steering* steering_ = nullptr;
  Method method_ = Method::NORMMUSIC;
  std::size_t K_ = 1, M_ = 0, B_ = 0;
  std::vector<float> window_;
  std::unique_ptr<vesk::RealFft<float>> fft_;
  std::vector<float> xr_, xi_;  // a group of frames' spectra, as the FFT gives them
  std::vector<double> sr_, si_;
  std::vector<std::complex<double>> cov_, vectors_;
  SubspaceSolver solver_;
};

SubspaceWorkspace::SubspaceWorkspace() : impl_(std::make_unique<Impl>()) {}
SubspaceWorkspace::~SubspaceWorkspace() = default;
SubspaceWorkspace::SubspaceWorkspace(SubspaceWorkspace&&) noexcept = default;

void BlockToSubspaces(BlockCovariance& block, const Steering& steering, Method method, std::size_t sources,
                      SubspaceWorkspace& space) {
  if (block.subspaces.perBin == 0) space.impl_->Run(block, steering, method, sources);
}

}  // namespace vesktools
