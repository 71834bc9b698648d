#include "MeasurementToDelays.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "SpectrumToDelay.h"
#include "ToolError.h"
#include "base/Cores.h"

namespace vesktools {

std::vector<std::vector<double>> MeasurementToDelays(const TfMeasurement& tf, double samplingHz, const DelayBand& band,
                                                     std::size_t& nonFiniteSpectra) {
  nonFiniteSpectra = 0;
  const double nyquist = samplingHz / 2;
  const double highHz = band.highHz > 0 ? band.highHz : 0.8 * nyquist;
  const double binHz = samplingHz / static_cast<double>(tf.nfft);
  const auto binLo = static_cast<std::size_t>(std::max(1.0, std::ceil(band.lowHz / binHz)));
  const auto binHi =
      static_cast<std::size_t>(std::min(std::floor(highHz / binHz), static_cast<double>(tf.nfft / 2 - 1)));
  if (binHi < binLo + 3) {
    std::ostringstream msg;
    msg << "the band " << band.lowHz << " - " << highHz << " Hz holds fewer than 4 bins of " << binHz << " Hz";
    throw ToolError(msg.str());
  }
  const double gate = std::max(16.0, 0.001 * samplingHz);
  std::vector<std::vector<double>> delays(tf.NumSources(), std::vector<double>(tf.NumMics()));
  std::vector<std::size_t> nonFinite(tf.NumSources(), 0);  // per source, so that no slice shares a counter
  // Each source on one core, with an estimator (plans, buffers) per slice.
  vesk::OverCores(
      tf.NumSources(),
      [&](std::size_t first, std::size_t last) {
        DelayEstimator estimator(tf.nfft, 8);
        std::vector<std::complex<float>> full(tf.nfft / 2 + 1);
        std::vector<double> sorted(tf.NumMics());
        for (std::size_t s = first; s < last; ++s) {
          for (std::size_t m = 0; m < tf.NumMics(); ++m) {
            const auto& spectrum = tf.Spectrum(s, m);
            std::fill(full.begin(), full.end(), std::complex<float>(0, 0));
            bool finite = true;
            for (std::size_t j = 0; j < spectrum.size(); ++j) {
              if (std::isfinite(spectrum[j].real()) && std::isfinite(spectrum[j].imag()))
                full[tf.binIndex[j]] = spectrum[j];
              else
                finite = false;
            }
            nonFinite[s] += finite ? 0 : 1;
            delays[s][m] = estimator.Estimate(full.data(), tf.conjugated, binLo, binHi, gate);
          }
          sorted = delays[s];
          std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
          const double median = sorted[sorted.size() / 2];
          for (double& d : delays[s]) d = median + WrapDelay(d - median, static_cast<double>(tf.nfft));
        }
      },
      8);
  for (std::size_t n : nonFinite) nonFiniteSpectra += n;
  return delays;
}

}  // namespace vesktools
