#include "SpectrumToDelay.h"

#include <algorithm>
#include <cmath>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

namespace {
const double kTwoPi = 2.0 * vesk::kPi;
}

double WrapDelay(double delay, double period) { return delay - period * std::floor(delay / period + 0.5); }

DelayEstimator::DelayEstimator(std::size_t nfft, std::size_t upsample, bool envelope)
    : nfft_(nfft),
      numBins_(nfft / 2 + 1),
      upsample_(std::max<std::size_t>(upsample, 1)),
      envelopePeak_(envelope),
      input_(nfft / 2 + 1),
      taper_(nfft / 2 + 1),
      fine_(nfft < 4 ? 4 : nfft),
      coarse_((nfft < 4 ? 4 : nfft) * std::max<std::size_t>(upsample, 1)) {
  if (nfft < 4 || nfft % 2 != 0)
    throw ToolError("the transform length must be even and at least 4, found " + std::to_string(nfft));
  envelope_.resize(coarse_.Size());
}

double DelayEstimator::EstimateLoaded(std::size_t binLo, std::size_t binHi, double gateSamples) {
  binHi = std::min(binHi, numBins_ - 1);
  if (binLo > binHi || binHi == 0) throw ToolError("empty frequency band for the delay estimate");
  // Hann ramps over a tenth of the band at each edge keep the band-limited
  // pulse compact (a brick-wall band rings far from the peak).
  const std::size_t width = binHi - binLo + 1;
  const std::size_t ramp = std::max<std::size_t>(1, width / 10);
  for (std::size_t k = 0; k < numBins_ && (binLo != taperLo_ || binHi != taperHi_); ++k) {
    double w = 0.0;
    if (k >= binLo && k <= binHi) {
      const std::size_t edge = std::min(k - binLo, binHi - k);
      w = edge >= ramp ? 1.0 : 0.5 - 0.5 * std::cos(vesk::kPi * (static_cast<double>(edge) + 0.5) / ramp);
    }
    taper_[k] = w;
  }
  taperLo_ = binLo;
  taperHi_ = binHi;
  if (gateSamples <= 0) {
    // A delay within a sample leaves the phase unwrapped over the band: the
    // slope alone gives it, and a small misfit shows that it did.
    double misfitRad = 0;
    const double direct = PhaseSlopeRefine(0.0, binLo, binHi, 0.0, &misfitRad);
    if (misfitRad < 0.5 && std::fabs(direct) < 1.0)
      return WrapDelay(PhaseSlopeRefine(direct, binLo, binHi, 0.0), static_cast<double>(nfft_));
  }
  double delay = CoarsePeak(binLo, binHi);
  for (int pass = 0; pass < (gateSamples > 0 ? 2 : 1); ++pass)
    delay = PhaseSlopeRefine(delay, binLo, binHi, gateSamples);
  delay = std::fmod(delay, static_cast<double>(nfft_));
  return delay < 0 ? delay + static_cast<double>(nfft_) : delay;
}

double DelayEstimator::CoarsePeak(std::size_t binLo, std::size_t binHi) {
  const std::size_t n = coarse_.Size();
  // Envelope = |analytic signal|: the band-limited pulse and its Hilbert
  // transform (spectrum times -i), each by one inverse real transform.
  for (int part = 0; part < (envelopePeak_ ? 2 : 1); ++part) {
    std::complex<double>* spec = coarse_.Spectrum();
    std::fill(spec, spec + coarse_.NumBins(), std::complex<double>(0.0, 0.0));
    for (std::size_t k = binLo; k <= binHi; ++k)
      spec[k] = taper_[k] * (part == 0 ? input_[k] : std::complex<double>(0.0, -1.0) * input_[k]);
    coarse_.Inverse();
    const double* t = coarse_.Time();
    if (part == 0)
      for (std::size_t i = 0; i < n; ++i) envelope_[i] = t[i] * t[i];
    else
      for (std::size_t i = 0; i < n; ++i) envelope_[i] += t[i] * t[i];
  }
  const std::size_t peak =
      static_cast<std::size_t>(std::max_element(envelope_.begin(), envelope_.end()) - envelope_.begin());
  const double left = envelope_[(peak + n - 1) % n], mid = envelope_[peak], right = envelope_[(peak + 1) % n];
  const double denom = left - 2.0 * mid + right;
  const double offset = denom < 0 ? std::clamp(0.5 * (left - right) / denom, -0.5, 0.5) : 0.0;
  return (static_cast<double>(peak) + offset) / static_cast<double>(upsample_);
}

double DelayEstimator::PhaseSlopeRefine(double delay, std::size_t binLo, std::size_t binHi, double gateSamples,
                                        double* misfitRad) {
  const double n = static_cast<double>(nfft_);
  const std::complex<double>* spec = fine_.Spectrum();
  if (gateSamples > 0) {
    std::complex<double>* gated = fine_.Spectrum();
    for (std::size_t k = 0; k < numBins_; ++k) gated[k] = taper_[k] * input_[k];
    fine_.Inverse();
    double* t = fine_.Time();
    for (std::size_t i = 0; i < nfft_; ++i) {
      const double d = WrapDelay(static_cast<double>(i) - delay, n);
      t[i] = std::fabs(d) < gateSamples ? t[i] * (0.5 + 0.5 * std::cos(vesk::kPi * d / gateSamples)) / n : 0.0;
    }
    fine_.Forward();
  } else {
    spec = input_.data();
  }
  // Phase left after removing the current delay; its slope is the correction.
  double sw = 0, swx = 0, swy = 0, swxx = 0, swxy = 0, swyy = 0;
  // At most about 1024 bins take part (a phase per bin costs an arctangent;
  // more bins add little to a fit over the whole band). exp(i omega delay)
  // by rotation from bin to bin (no sine per bin).
  const std::size_t stride = std::max<std::size_t>(1, (binHi - binLo + 1) / 1024);
  const std::complex<double> step = std::polar(1.0, kTwoPi * static_cast<double>(stride) * delay / n);
  std::complex<double> rotation = std::polar(1.0, kTwoPi * static_cast<double>(binLo) * delay / n);
  for (std::size_t k = binLo; k <= binHi; k += stride, rotation *= step) {
    const double omega = kTwoPi * static_cast<double>(k) / n;
    const std::complex<double> v = spec[k] * rotation;
    const double w = std::norm(v);
    if (w == 0.0) continue;
    const double phase = std::arg(v);
    sw += w;
    swx += w * omega;
    swy += w * phase;
    swxx += w * omega * omega;
    swxy += w * omega * phase;
    swyy += w * phase * phase;
  }
  const double det = sw * swxx - swx * swx;
  if (misfitRad) *misfitRad = vesk::kPi;  // until a fit says otherwise
  if (!(sw > 0) || !(det > 0)) return delay;
  const double slope = (sw * swxy - swx * swy) / det;
  if (misfitRad) {
    const double intercept = (swy - slope * swx) / sw;
    *misfitRad = std::sqrt(std::max(swyy - intercept * swy - slope * swxy, 0.0) / sw);
  }
  return delay - slope;
}

}  // namespace vesktools
