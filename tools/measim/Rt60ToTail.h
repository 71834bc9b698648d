// A synthetic room tail: exponentially decaying white Gaussian noise.
#ifndef VESK_TOOLS_RT60TOTAIL_H
#define VESK_TOOLS_RT60TOTAIL_H

#include <cstddef>
#include <random>
#include <vector>

namespace vesktools {

// Adds to response[onset ..] noise whose amplitude envelope falls by 60 dB in
// `rt60_s` seconds at `sampling_hz`; the tail is scaled so that its energy
// (sum of squares over the samples that fit) equals `energy`. Draws one
// Gaussian per sample from `rng`. Throws ToolError for rt60 <= 0, sampling
// rate <= 0 or negative energy. An onset at or past the end adds nothing.
void AddRoomTail(std::vector<double>& response, std::size_t onset_samples, double rt60_s, double sampling_hz,
                 double energy, std::mt19937_64& rng);

}  // namespace vesktools

#endif
