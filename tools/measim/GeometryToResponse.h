// The simulated response from one source position to one microphone: a
// free-field fractional delay with 1/r level, optionally followed by a room
// tail.
#ifndef VESK_TOOLS_GEOMETRYTORESPONSE_H
#define VESK_TOOLS_GEOMETRYTORESPONSE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DelayToFilter.h"
#include "base/Constants.h"

namespace vesktools {

struct Point3 {
  double x = 0, y = 0, z = 0;  // metres
};

struct ResponseSettings {
  double sampling_hz = 16000.0;
  double speed_of_sound_mps = vesk::kSpeedOfSound;
  double latency_samples = 128.0;  // added to every delay so the filter is causal
  FractionalDelayDesign delay_filter;
  std::size_t length_samples = 4096;
  double rt60_s = 0.0;     // 0: free field only, no tail
  double drr_db = 6.0;     // direct-to-reverberant energy ratio of the tail
  double tail_gap_s = 0.002;  // tail starts this long after the direct sound
  uint64_t seed = 1;
};

// Distance in metres times sampling rate over speed of sound, plus latency.
double DirectDelaySamples(const Point3& source, const Point3& mic, const ResponseSettings& settings);

// response[n], n = 0..length-1: (1/r) * delayed windowed sinc at
// DirectDelaySamples (r in metres, so a source 1 m away has unit level), plus,
// when rt60_s > 0, a tail of energy (1/r)^2 * 10^(-drr/10) starting tail_gap_s
// after the direct sound. The tail's noise is seeded by (seed, src, micIndex)
// so every pair gets its own, repeatable tail. Throws ToolError when the
// source and microphone coincide or the filter does not fit.
std::vector<double> GeometryToResponse(const Point3& source, const Point3& mic, const ResponseSettings& settings,
                                       std::size_t src, unsigned int micIndex);

}  // namespace vesktools

#endif
