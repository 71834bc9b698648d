#include "ParametersToTsp.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <sstream>

#include "base/RealFft.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

std::vector<float> MakeTsp(const TspParameters& params) {
  const std::size_t n = params.length_samples;
  const std::size_t eff = params.effective_length_samples;
  if (n < 4 || (n & (n - 1)) != 0)
    throw ToolError("TSP length must be a power of two of at least 4, found " + std::to_string(n));
  if (eff < 2 || eff > n || eff % 2 != 0) {
    std::ostringstream msg;
    msg << "TSP effective length must be even and between 2 and " << n << ", found " << eff;
    throw ToolError(msg.str());
  }
  // Below 1 the 16-bit playback rounds to silence.
  if (!(params.peak >= 1.0 && params.peak <= 32767.0)) {
    std::ostringstream msg;
    msg << "TSP peak must lie in [1, 32767], found " << params.peak;
    throw ToolError(msg.str());
  }
  const double m = static_cast<double>(eff / 2);
  const double nd = static_cast<double>(n);

  vesk::RealFft<double> fft(n);
  std::complex<double>* spec = fft.Spectrum();
  for (std::size_t k = 0; k <= n / 2; ++k) {
    // Reduce the phase modulo 2 pi in exact integer arithmetic first: 4 m k^2
    // reaches 1e12 and would lose digits as a double angle.
    const uint64_t num = (4ull * static_cast<uint64_t>(m) * k * k) % (2ull * n * n);
    const double phase = -vesk::kPi * static_cast<double>(num) / (nd * nd);
    spec[k] = std::polar(1.0, phase);
  }
  fft.Inverse();

  const std::size_t shift = n / 2 - eff / 2;
  std::vector<double> rotated(n);
  for (std::size_t t = 0; t < n; ++t) rotated[(t + shift) % n] = fft.Time()[t];
  double largest = 0.0;
  for (double v : rotated) largest = std::max(largest, std::abs(v));
  std::vector<float> tsp(n);
  for (std::size_t t = 0; t < n; ++t) tsp[t] = static_cast<float>(std::round(rotated[t] * params.peak / largest));
  return tsp;
}

std::size_t PlaybackPeriods(std::size_t length_samples, std::size_t offset_samples, std::size_t periods) {
  return (offset_samples + length_samples - 1) / length_samples + periods;
}

std::vector<int16_t> TspToPlayback(const std::vector<float>& tsp, std::size_t numPeriods) {
  std::vector<int16_t> playback;
  playback.reserve(tsp.size() * numPeriods);
  for (std::size_t p = 0; p < numPeriods; ++p)
    for (float v : tsp) playback.push_back(static_cast<int16_t>(v));
  return playback;
}

}  // namespace vesktools
