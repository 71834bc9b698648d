// The optimised time-stretched pulse (TSP): flat magnitude spectrum and
// quadratic phase, swept once over a chosen number of samples.
#ifndef VESK_TOOLS_PARAMETERSTOTSP_H
#define VESK_TOOLS_PARAMETERSTOTSP_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dravik/Invocation.h"

namespace vesktools {

struct TspParameters {
  std::size_t length_samples = dravik::kDefaultSamplesPerFrame;  // N, one period
  std::size_t effective_length_samples = 8192;                   // sweep duration 2m, even, 2..N
  double peak = 32767.0;                                         // largest |sample| after scaling
};

// One period of the TSP. Spectrum before scaling: X[k] = exp(-i 4 pi m k^2 / N^2)
// for k = 0..N/2 (conjugate-symmetric above), so the group delay rises
// linearly from 0 to 2m samples (an upward sweep); the period is then rotated
// right by N/2 - m so that the sweep lies in the middle and does not wrap,
// scaled to `peak` and rounded to whole numbers, so a 16-bit playback holds
// exactly the same values. N must be a power of two >= 4 (the impulse
// calculator transforms whole periods); throws ToolError otherwise, or when
// the effective length is odd, below 2 or above N, or the peak is not in
// (0, 32767].
std::vector<float> MakeTsp(const TspParameters& params);

// Number of whole periods a playback needs so that the synchronous average,
// `periods` periods starting at `offset_samples`, lies inside it.
std::size_t PlaybackPeriods(std::size_t length_samples, std::size_t offset_samples, std::size_t periods);

// The TSP repeated `numPeriods` times as 16-bit samples (values as in MakeTsp).
std::vector<int16_t> TspToPlayback(const std::vector<float>& tsp, std::size_t numPeriods);

}  // namespace vesktools

#endif
