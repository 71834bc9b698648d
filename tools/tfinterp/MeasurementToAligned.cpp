#include "MeasurementToAligned.h"

#include <cmath>

#include "MeasurementToDelays.h"
#include "SpectrumToDelay.h"
#include "ToolError.h"
#include "base/Constants.h"
#include "base/Cores.h"

namespace vesktools {

namespace {
const double kTwoPi = 2.0 * vesk::kPi;
}

const char* MethodName(Method method) {
  switch (method) {
    case Method::DELAY_ALIGNED:
      return "delay-aligned";
    case Method::COMPLEX_ALIGNED:
      return "complex-aligned";
    case Method::NEAREST:
      return "nearest";
    case Method::COMPLEX:
      return "complex";
  }
  return "?";
}

Method ParseMethod(const std::string& text) {
  for (Method m : {Method::DELAY_ALIGNED, Method::COMPLEX_ALIGNED, Method::NEAREST, Method::COMPLEX})
    if (text == MethodName(m)) return m;
  throw ToolError("--method expects delay-aligned, complex-aligned, nearest or complex, found \"" + text + "\"");
}

DirectionDelays MeasurementToDelaysByDirection(const TfMeasurement& tf, const DirectionGrid& grid) {
  std::size_t nonFinite = 0;
  const std::vector<std::vector<double>> bySource = MeasurementToDelays(tf, tf.samplingHz, DelayBand(), nonFinite);
  DirectionDelays delays;
  const std::size_t mics = tf.NumMics();
  delays.centre.resize(grid.NumDirections());
  delays.relative.resize(grid.NumDirections() * mics);
  for (std::size_t dir = 0; dir < grid.NumDirections(); ++dir) {
    const std::vector<double>& d = bySource[grid.Source(dir)];
    double mean = 0;
    for (double v : d) mean += v;
    mean /= static_cast<double>(mics);
    delays.centre[dir] = mean;
    for (std::size_t mic = 0; mic < mics; ++mic) delays.relative[dir * mics + mic] = d[mic] - mean;
  }
  return delays;
}

AlignedSpectra::AlignedSpectra(const TfMeasurement& tf, const DirectionGrid& grid, const DirectionDelays& delays,
                               Method method, bool inPlace)
    : numMics_(tf.NumMics()), rows_(grid.NumDirections() * tf.NumMics()) {
  const std::size_t numBins = tf.binIndex.size();
  if (!inPlace) own_.resize(rows_.size() * numBins);
  for (std::size_t dir = 0; dir < grid.NumDirections(); ++dir)
    for (std::size_t mic = 0; mic < numMics_; ++mic) {
      // The file's spectra belong to its data set, which was made for this
      // run and is not used as the file's values again.
      rows_[dir * numMics_ + mic] = inPlace
                                        ? const_cast<std::complex<float>*>(tf.Spectrum(grid.Source(dir), mic).data())
                                        : own_.data() + (dir * numMics_ + mic) * numBins;
    }
  const double n = static_cast<double>(tf.nfft);
  vesk::OverCores(
      grid.NumDirections(),
      [&](std::size_t first, std::size_t last) {
        for (std::size_t dir = first; dir < last; ++dir) {
          for (std::size_t mic = 0; mic < numMics_; ++mic) {
            const std::vector<std::complex<float>>& stored = tf.Spectrum(grid.Source(dir), mic);
            std::complex<float>* row = rows_[dir * numMics_ + mic];
            const double tau = delays.centre[dir] + delays.relative[dir * numMics_ + mic];
            double previous = 0;
            for (std::size_t j = 0; j < numBins; ++j) {
              std::complex<double> x(stored[j].real(), stored[j].imag());
              if (tf.conjugated) x = std::conj(x);
              // Exact angle per bin (tau * bin reaches thousands of radians).
              const double turns = std::fmod(tau * static_cast<double>(tf.binIndex[j]), n) / n;
              const std::complex<double> aligned = x * std::polar(1.0, kTwoPi * turns);
              if (method == Method::COMPLEX_ALIGNED) {
                row[j] = std::complex<float>(static_cast<float>(aligned.real()), static_cast<float>(aligned.imag()));
                continue;
              }
              double phase = std::arg(aligned);
              if (j > 0) phase += kTwoPi * std::round((previous - phase) / kTwoPi);
              previous = phase;
              row[j] = std::complex<float>(static_cast<float>(std::abs(aligned)), static_cast<float>(phase));
            }
          }
        }
      },
      4);
}

}  // namespace vesktools
