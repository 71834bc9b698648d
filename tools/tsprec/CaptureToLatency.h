// The round trip from the first played sample to the loopback input.
#ifndef VESK_TSPREC_CAPTURETOLATENCY_H
#define VESK_TSPREC_CAPTURETOLATENCY_H

#include <cstddef>
#include <memory>
#include <vector>

namespace vesktools {

struct Latency {
  long frames = 0;       // whole samples: where the loopback best matches the playback
  double fine = 0;       // samples, to about 0.01 (phase slope of the cross-spectrum)
  double peakRatio = 0;  // correlation peak over the playback's energy (1: the loopback holds it unchanged)
};

// One transform size for every take of a session: the playback and the
// capture length are fixed.
class LatencyMeter {
public:
  // `playback`: the mono playback at full scale 1 (its first 131072
  // samples are looked for); `captureFrames`: frames captured per take;
  // `maxFrames`: the largest latency looked for; `periodFrames`: the
  // playback's period when it repeats one (the list's tspLength), else 0.
  // Throws ToolError for a playback whose head is silent.
  LatencyMeter(const std::vector<float>& playback, std::size_t captureFrames, long maxFrames, int rateHz,
               std::size_t periodFrames = 0);
  ~LatencyMeter();
  // Cross-correlates input `channel` of the interleaved `capture`
  // (`channels` per frame, at least captureFrames frames) with the playback
  // and gives the lag in [0, maxFrames] with the largest correlation; of a
  // periodic playback's lags one period apart that match alike (every
  // later period matches as well as the first), the earliest.
  Latency Measure(const std::vector<float>& capture, unsigned int channels, unsigned int channel, long maxFrames);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesktools

#endif
