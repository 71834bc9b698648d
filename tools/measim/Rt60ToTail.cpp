#include "Rt60ToTail.h"

#include <cmath>
#include <sstream>

#include "ToolError.h"

namespace vesktools {

void AddRoomTail(std::vector<double>& response, std::size_t onset_samples, double rt60_s, double sampling_hz,
                 double energy, std::mt19937_64& rng) {
  if (!(rt60_s > 0) || !(sampling_hz > 0) || !(energy >= 0)) {
    std::ostringstream msg;
    msg << "room tail needs rt60 > 0 s, a sampling rate > 0 Hz and energy >= 0; found rt60 " << rt60_s << ", rate "
        << sampling_hz << ", energy " << energy;
    throw ToolError(msg.str());
  }
  if (onset_samples >= response.size()) return;
  // Amplitude falls by 10^(-60/20) = 1e-3 over rt60_s * sampling_hz samples.
  const double decayPerSample = std::pow(1e-3, 1.0 / (rt60_s * sampling_hz));
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<double> tail(response.size() - onset_samples);
  double envelope = 1.0, sum = 0.0;
  for (double& v : tail) {
    v = envelope * gauss(rng);
    sum += v * v;
    envelope *= decayPerSample;
  }
  const double scale = sum > 0 ? std::sqrt(energy / sum) : 0.0;
  for (std::size_t i = 0; i < tail.size(); ++i) response[onset_samples + i] += scale * tail[i];
}

}  // namespace vesktools
