// The playback as a recorder with a drifting clock captures it.
#ifndef VESK_TOOLS_PLAYBACKTODRIFTED_H
#define VESK_TOOLS_PLAYBACKTODRIFTED_H

#include <vector>

namespace vesktools {

// Resamples `playback` for a recorder whose clock runs `drift_ppm` parts per
// million faster than the player's: output[n] = playback(n / (1 + drift)),
// band-limited interpolation by a Kaiser-windowed sinc (half-width 32
// samples, beta 8) that also low-passes at 0.9 of the Nyquist frequency.
// The output holds round(size * (1 + drift)) samples; a period of N samples
// then spans N * (1 + drift) recorded samples. drift_ppm 0 returns the input
// unchanged. Throws ToolError for |drift_ppm| >= 1e5.
std::vector<double> PlaybackToDrifted(const std::vector<double>& playback, double drift_ppm);

}  // namespace vesktools

#endif
