// The loopback latency of a take against known delays. The playback is one
// period repeated, so every later period is an alias of the latency (and
// a latency beyond a period has an earlier alias that matches all but one).
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureToLatency.h"

namespace {

TEST(LatencyMeter, FindsTheDelayNotALaterPeriodOfAPeriodicPlayback) {
  constexpr std::size_t kPeriod = 4096, kPeriods = 40;  // longer than the 131072 frames looked for
  std::mt19937 rng(3);
  std::normal_distribution<float> gauss(0.0f, 0.2f);
  std::vector<float> period(kPeriod);
  for (float& v : period) v = gauss(rng);
  std::vector<float> playback;
  for (std::size_t p = 0; p < kPeriods; ++p) playback.insert(playback.end(), period.begin(), period.end());
  const long maxFrames = 3 * kPeriod;  // room for two aliases beyond every delay below
  const std::size_t captureFrames = playback.size() + maxFrames;
  vesktools::LatencyMeter meter(playback, captureFrames, maxFrames, 48000, kPeriod);
  for (long delay : {0L, 128L, 512L, 4095L, 4096L + 77}) {
    SCOPED_TRACE(delay);
    // Two channels: silence on 0, the loopback on 1.
    std::vector<float> capture(2 * captureFrames, 0.0f);
    for (std::size_t f = 0; f < playback.size() && f + delay < captureFrames; ++f)
      capture[2 * (f + delay) + 1] = playback[f];
    const vesktools::Latency latency = meter.Measure(capture, 2, 1, maxFrames);
    EXPECT_EQ(latency.frames, delay);
    EXPECT_NEAR(latency.fine, double(delay), 0.01);
    EXPECT_NEAR(latency.peakRatio, 1.0, 0.05);
  }
}

}  // namespace
