#include "DelayToFilter.h"

#include <cmath>
#include <sstream>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

void AddFractionalDelay(std::vector<double>& response, double delay_samples, double gain,
                        const FractionalDelayDesign& design) {
  const double h = design.half_width_samples;
  if (!(h > 0) || delay_samples - h < 0 || delay_samples + h > static_cast<double>(response.size()) - 1) {
    std::ostringstream msg;
    msg << "a delay of " << delay_samples << " samples with a filter half-width of " << h
        << " does not fit into " << response.size() << " samples";
    throw ToolError(msg.str());
  }
  const double i0Beta = std::cyl_bessel_i(0.0, design.kaiser_beta);
  const auto first = static_cast<std::size_t>(std::ceil(delay_samples - h));
  const auto last = static_cast<std::size_t>(std::floor(delay_samples + h));
  for (std::size_t n = first; n <= last; ++n) {
    const double x = static_cast<double>(n) - delay_samples;
    const double r = x / h;
    if (r * r >= 1.0) continue;
    const double window = std::cyl_bessel_i(0.0, design.kaiser_beta * std::sqrt(1.0 - r * r)) / i0Beta;
    const double sinc = (x == 0.0) ? 1.0 : std::sin(vesk::kPi * x) / (vesk::kPi * x);
    response[n] += gain * sinc * window;
  }
}

}  // namespace vesktools
