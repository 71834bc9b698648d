#include "PlaybackToDrifted.h"

#include <cmath>
#include <sstream>

#include "DelayToFilter.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

std::vector<double> PlaybackToDrifted(const std::vector<double>& playback, double drift_ppm) {
  if (drift_ppm == 0.0) return playback;
  if (!(std::fabs(drift_ppm) < 1e5)) {
    std::ostringstream msg;
    msg << "a clock drift of " << drift_ppm << " ppm is out of range (|drift| < 100000)";
    throw ToolError(msg.str());
  }
  constexpr int kHalfWidth = 32;
  constexpr int kSteps = 1024;
  constexpr double kCutoff = 0.9;  // kernel table points per sample; linear in between
  const double beta = 8.0;
  const double i0Beta = BesselI0(beta);
  std::vector<double> kernel(kHalfWidth * kSteps + 2, 0.0);
  for (std::size_t i = 0; i + 1 < kernel.size(); ++i) {
    const double x = static_cast<double>(i) / kSteps;
    const double r = x / kHalfWidth;
    if (r >= 1.0) break;
    const double window = BesselI0(beta * std::sqrt(1.0 - r * r)) / i0Beta;
    // Low-pass at 0.9 of the Nyquist frequency: near Nyquist an
    // interpolator's error depends on the fractional position, which drifts,
    // and would show as noise that differs from period to period.
    kernel[i] = (x == 0.0 ? kCutoff : std::sin(vesk::kPi * kCutoff * x) / (vesk::kPi * x)) * window;
  }
  auto tap = [&](double x) {
    const double pos = std::fabs(x) * kSteps;
    const auto i = static_cast<std::size_t>(pos);
    if (i + 1 >= kernel.size()) return 0.0;
    const double frac = pos - static_cast<double>(i);
    return kernel[i] + frac * (kernel[i + 1] - kernel[i]);
  };
  const double ratio = 1.0 + drift_ppm * 1e-6;
  const auto size = static_cast<std::size_t>(std::llround(static_cast<double>(playback.size()) * ratio));
  std::vector<double> out(size, 0.0);
  const auto last = static_cast<long>(playback.size()) - 1;
  for (std::size_t n = 0; n < size; ++n) {
    const double t = static_cast<double>(n) / ratio;  // in playback samples
    const long centre = static_cast<long>(std::floor(t));
    double sum = 0.0;
    for (long k = std::max(0L, centre - kHalfWidth + 1); k <= std::min(last, centre + kHalfWidth); ++k)
      sum += playback[static_cast<std::size_t>(k)] * tap(t - static_cast<double>(k));
    out[n] = sum;
  }
  return out;
}

}  // namespace vesktools
