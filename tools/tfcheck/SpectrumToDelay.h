// The arrival time of a pulse from its one-sided spectrum.
#ifndef VESK_TFCHECK_SPECTRUMTODELAY_H
#define VESK_TFCHECK_SPECTRUMTODELAY_H

#include <complex>
#include <cstddef>
#include <vector>

#include "base/RealFft.h"

namespace vesktools {

// Estimates the delay of the strongest arrival in a spectrum of
// nfft / 2 + 1 bins (bin k at k / nfft cycles per sample, the sign
// convention X[k] = sum x[t] exp(-2 pi i k t / nfft), so a pulse at t0 has
// phase -2 pi k t0 / nfft):
//  1. coarse: the peak of the envelope of the band-limited pulse (bins
//     binLo..binHi, edges tapered), interpolated `upsample` times and
//     refined by a parabola through the peak; without `envelope`, the peak
//     of the pulse itself (for a cross-correlation, whose peak is
//     positive; one transform less);
//  2. fine: the slope of the phase over the band (weighted least squares
//     with intercept, weights |X|^2) of the pulse gated around the coarse
//     peak by a Hann window of half-width gateSamples, done twice; with
//     gateSamples 0, once on the whole spectrum, and step 1 is skipped when
//     the slope alone fits within 0.5 rad RMS and gives under one sample.
// Result in samples, in [0, nfft) (circular). Plans are made once per size
// and reused; not thread-safe. Throws ToolError for nfft < 4, an odd nfft
// or an empty band.
class DelayEstimator {
public:
  DelayEstimator(std::size_t nfft, std::size_t upsample, bool envelope = true);
  DelayEstimator(const DelayEstimator&) = delete;
  DelayEstimator& operator=(const DelayEstimator&) = delete;

  std::size_t Nfft() const { return nfft_; }

  // `spectrum` holds nfft / 2 + 1 bins; `conjugate` reads conj(X) (files
  // that store conjugated spectra).
  template <typename T>
  double Estimate(const std::complex<T>* spectrum, bool conjugate, std::size_t binLo, std::size_t binHi,
                  double gateSamples) {
    Load(spectrum, conjugate);
    return EstimateLoaded(binLo, binHi, gateSamples);
  }

private:
  template <typename T>
  void Load(const std::complex<T>* spectrum, bool conjugate) {
    for (std::size_t k = 0; k < numBins_; ++k) {
      const std::complex<double> v(spectrum[k].real(), spectrum[k].imag());
      input_[k] = conjugate ? std::conj(v) : v;
    }
  }
  double EstimateLoaded(std::size_t binLo, std::size_t binHi, double gateSamples);
  double CoarsePeak(std::size_t binLo, std::size_t binHi);
  // misfitRad, when given: weighted RMS of the phase about the fitted line.
  double PhaseSlopeRefine(double delay, std::size_t binLo, std::size_t binHi, double gateSamples,
                          double* misfitRad = nullptr);

  std::size_t nfft_, numBins_, upsample_;
  bool envelopePeak_;
  std::size_t taperLo_ = 0, taperHi_ = 0;  // band the taper was made for
  std::vector<std::complex<double>> input_;
  std::vector<double> taper_, envelope_;
  vesk::RealFft<double> fine_;    // nfft points
  vesk::RealFft<double> coarse_;  // nfft * upsample points
};

// Wraps a circular difference of delays (samples) into [-period/2, period/2).
double WrapDelay(double delay, double period);

}  // namespace vesktools

#endif
