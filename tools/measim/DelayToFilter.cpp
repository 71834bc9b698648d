#include "DelayToFilter.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

double BesselI0(double x) {
  const double half = 0.5 * x;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 500 && term > 1e-17 * sum; ++k) {
    const double factor = half / k;
    term *= factor * factor;
    sum += term;
  }
  return sum;
}

void AddFractionalDelay(std::vector<double>& response, double delay_samples, double gain,
                        const FractionalDelayDesign& design) {
  const double h = design.half_width_samples;
  if (!(h > 0) || delay_samples - h < 0 || delay_samples + h > static_cast<double>(response.size()) - 1) {
    std::ostringstream msg;
    msg << "a delay of " << delay_samples << " samples with a filter half-width of " << h << " does not fit into "
        << response.size() << " samples";
    throw ToolError(msg.str());
  }
  AddFractionalDelayCut(response, delay_samples, gain, design);
}

void AddFractionalDelayCut(std::vector<double>& response, double delay_samples, double gain,
                           const FractionalDelayDesign& design) {
  const double h = design.half_width_samples;
  const double i0Beta = BesselI0(design.kaiser_beta);
  const double size = static_cast<double>(response.size());
  if (response.empty() || !(delay_samples + h >= 0) || !(delay_samples - h <= size - 1)) return;
  const auto first = static_cast<std::size_t>(std::max(0.0, std::ceil(delay_samples - h)));
  const auto last = static_cast<std::size_t>(std::min(size - 1, std::floor(delay_samples + h)));
  for (std::size_t n = first; n <= last; ++n) {
    const double x = static_cast<double>(n) - delay_samples;
    const double r = x / h;
    if (r * r >= 1.0) continue;
    const double window = BesselI0(design.kaiser_beta * std::sqrt(1.0 - r * r)) / i0Beta;
    const double sinc = (x == 0.0) ? 1.0 : std::sin(vesk::kPi * x) / (vesk::kPi * x);
    response[n] += gain * sinc * window;
  }
}

namespace {
constexpr int kSteps = 64;  // table rows per sample of fractional delay
}

TabulatedDelayFilter::TabulatedDelayFilter(int half_width_samples, double kaiser_beta)
    : halfWidth_(half_width_samples), table_(static_cast<std::size_t>((kSteps + 1) * 2 * half_width_samples)) {
  const double i0Beta = BesselI0(kaiser_beta);
  const double h = half_width_samples;
  for (int s = 0; s <= kSteps; ++s)
    for (int j = 0; j < 2 * halfWidth_; ++j) {
      // Tap j sits at n = floor(delay) - halfWidth + 1 + j.
      const double x = (j - halfWidth_ + 1) - static_cast<double>(s) / kSteps;
      const double r = x / h;
      const double window = r * r >= 1.0 ? 0.0 : BesselI0(kaiser_beta * std::sqrt(1.0 - r * r)) / i0Beta;
      const double sinc = (x == 0.0) ? 1.0 : std::sin(vesk::kPi * x) / (vesk::kPi * x);
      table_[static_cast<std::size_t>(s * 2 * halfWidth_ + j)] = sinc * window;
    }
}

void TabulatedDelayFilter::Add(std::vector<double>& response, double delay_samples, double gain) const {
  const double whole = std::floor(delay_samples);
  const double pos = (delay_samples - whole) * kSteps;
  const auto row = static_cast<std::size_t>(pos);
  const double frac = pos - static_cast<double>(row);
  const double* lo = &table_[row * 2 * static_cast<std::size_t>(halfWidth_)];
  const double* hi = lo + 2 * halfWidth_;
  const long first = static_cast<long>(whole) - halfWidth_ + 1;
  const long size = static_cast<long>(response.size());
  const int jFirst = static_cast<int>(std::max(0L, -first));
  const int jLast = static_cast<int>(std::min<long>(2 * halfWidth_, size - first));
  for (int j = jFirst; j < jLast; ++j)
    response[static_cast<std::size_t>(first + j)] += gain * (lo[j] + frac * (hi[j] - lo[j]));
}

}  // namespace vesktools
