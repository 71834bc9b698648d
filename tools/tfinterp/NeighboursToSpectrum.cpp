#include "NeighboursToSpectrum.h"

#include <cmath>

#include "SpectrumToDelay.h"
#include "base/Constants.h"

namespace vesktools {

namespace {
const double kTwoPi = 2.0 * vesk::kPi;
}

void NeighboursToSpectrum(const TfMeasurement& tf, const DirectionGrid& grid, const DirectionDelays& delays,
                          const AlignedSpectra* aligned, Method method, const Neighbours& nb, std::size_t mic,
                          std::complex<float>* out) {
  const std::size_t numBins = tf.binIndex.size();
  const std::size_t numMics = tf.NumMics();
  std::size_t heaviest = 0;
  for (std::size_t i = 1; i < nb.count; ++i)
    if (nb.weight[i] > nb.weight[heaviest]) heaviest = i;
  if (method == Method::NEAREST) {
    const auto& stored = tf.Spectrum(grid.Source(nb.dir[heaviest]), mic);
    std::copy(stored.begin(), stored.end(), out);
    return;
  }
  if (method == Method::COMPLEX) {
    for (std::size_t j = 0; j < numBins; ++j) {
      std::complex<double> sum(0, 0);
      for (std::size_t i = 0; i < nb.count; ++i) {
        const std::complex<float> v = tf.Spectrum(grid.Source(nb.dir[i]), mic)[j];
        sum += nb.weight[i] * std::complex<double>(v.real(), v.imag());
      }
      out[j] = std::complex<float>(static_cast<float>(sum.real()), static_cast<float>(sum.imag()));
    }
    return;
  }
  const double n = static_cast<double>(tf.nfft);
  const double refCentre = delays.centre[nb.dir[heaviest]];
  double tau = refCentre, relative = 0;
  const std::complex<float>* rows[4];
  for (std::size_t i = 0; i < nb.count; ++i) {
    tau += nb.weight[i] * WrapDelay(delays.centre[nb.dir[i]] - refCentre, n);
    relative += nb.weight[i] * delays.relative[nb.dir[i] * numMics + mic];
    rows[i] = aligned->Row(nb.dir[i], mic);
  }
  tau += nb.delayScale * relative;
  // exp(-i omega tau) bin by bin: exactly at the first bin and wherever
  // the stored bins skip, by rotation in between.
  const double turnsPerBin = std::fmod(tau, n) / n;
  const std::complex<double> step = std::polar(1.0, -kTwoPi * turnsPerBin);
  std::complex<double> rotation;
  const float sign = tf.conjugated ? -1.0f : 1.0f;
  for (std::size_t j = 0; j < numBins; ++j) {
    if (j == 0 || tf.binIndex[j] != tf.binIndex[j - 1] + 1)
      rotation = std::polar(1.0, -kTwoPi * std::fmod(turnsPerBin * static_cast<double>(tf.binIndex[j]), 1.0));
    else
      rotation *= step;
    std::complex<double> value;
    if (method == Method::COMPLEX_ALIGNED) {
      std::complex<double> sum(0, 0);
      for (std::size_t i = 0; i < nb.count; ++i)
        sum += nb.weight[i] * std::complex<double>(rows[i][j].real(), rows[i][j].imag());
      value = sum * rotation;
    } else {
      const double refPhase = rows[heaviest][j].imag();
      double magnitude = 0, phase = 0;
      for (std::size_t i = 0; i < nb.count; ++i) {
        const double p = rows[i][j].imag();
        magnitude += nb.weight[i] * rows[i][j].real();
        phase += nb.weight[i] * (p + kTwoPi * std::round((refPhase - p) / kTwoPi));
      }
      float s, c;
      sincosf(static_cast<float>(phase), &s, &c);
      value = static_cast<double>(magnitude) * std::complex<double>(c, s) * rotation;
    }
    out[j] = std::complex<float>(static_cast<float>(value.real()), sign * static_cast<float>(value.imag()));
  }
}

}  // namespace vesktools
