#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sndfile.h>

#include "PeriodAverage.h"
#include "base/SoundFileHandle.h"
#include "TestSignals.h"
#include "WaveFile.h"

namespace {

// x_c[t] = 1000·c + t / 64: exact in float and in the double sums, so the
// averages are exact: v_c[i] = 1000·c + (o + i + N·(F-1)/2) / 64.
std::vector<double> ramp_recording(int channels, int frames) {
  std::vector<double> data(static_cast<std::size_t>(channels) * frames);
  for (int t = 0; t < frames; ++t) {
    for (int c = 0; c < channels; ++c) data[static_cast<std::size_t>(t) * channels + c] = 1000.0 * c + t / 64.0;
  }
  return data;
}

TEST(PeriodAverage, AveragesPeriodsAcrossReadBlocks) {
  dravik_test::TempDir dir;
  const int channels = 3, frames = 70000;
  dravik_test::write_wave(dir.path("ramp.wav"), ramp_recording(channels, frames), channels,
                          SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  dravik::Recording recording;
  ASSERT_TRUE(recording.open(dir.path("ramp.wav")));
  EXPECT_EQ(recording.channels(), 3);
  EXPECT_EQ(recording.frames(), frames);
  // 12 periods of 5000 frames from frame 1234 span several read blocks.
  dravik::PeriodSums sums;
  sums.add_periods(recording, 1234, 5000, 12, {0, 2});
  ASSERT_EQ(sums.channel_count(), 2u);
  std::vector<double> average(5000);
  for (std::size_t idx = 0; idx < 2; ++idx) {
    int c = idx == 0 ? 0 : 2;
    sums.average(idx, average.data());
    for (int i = 0; i < 5000; ++i) {
      ASSERT_DOUBLE_EQ(average[i], 1000.0 * c + (1234 + i + 5000 * 11 / 2.0) / 64.0)
          << "channel " << c << " sample " << i;
    }
  }
  // All channels in file order take the contiguous path; same sums.
  sums.add_periods(recording, 1234, 5000, 12, {0, 1, 2});
  sums.average(2, average.data());
  EXPECT_DOUBLE_EQ(average[4999], 2000.0 + (1234 + 4999 + 5000 * 11 / 2.0) / 64.0);
}

TEST(PeriodAverage, OnePeriodFromTheStartIsTheChannelItself) {
  dravik_test::TempDir dir;
  dravik_test::write_wave(dir.path("ramp.wav"), ramp_recording(2, 4096), 2);
  dravik::Recording recording;
  ASSERT_TRUE(recording.open(dir.path("ramp.wav")));
  dravik::PeriodSums sums;
  sums.add_periods(recording, 0, 4096, 1, {1});
  std::vector<double> average(4096);
  sums.average(0, average.data());
  for (int i = 0; i < 4096; ++i) EXPECT_EQ(average[i], 1000.0 + i / 64.0);
}

TEST(PeriodAverage, SixteenBitSamplesAreScaledToFullScaleOne) {
  dravik_test::TempDir dir;
  std::vector<double> data(8192, 0.5);  // 16384 as a 16-bit sample
  dravik_test::write_wave(dir.path("half.wav"), data, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  dravik::Recording recording;
  ASSERT_TRUE(recording.open(dir.path("half.wav")));
  dravik::PeriodSums sums;
  sums.add_periods(recording, 0, 4096, 2, {0});
  std::vector<double> average(4096);
  sums.average(0, average.data());
  EXPECT_EQ(average[17], 0.5);
}

void write_pcm16(const std::string& path, const std::vector<short>& interleaved, int channels) {
  vesk_test::WriteWaveFile(path, interleaved, channels, 16000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

// 16-bit samples are summed as integers: the averages must equal the sums
// of libsndfile's doubles (x / 32768) to the last bit, also at the period
// counts where an int32 sum would overflow.
TEST(PeriodAverage, SixteenBitSumsEqualTheDoubleSumsExactly) {
  dravik_test::TempDir dir;
  const int channels = 2, n = 4096, periods = 5;
  std::vector<short> data(static_cast<std::size_t>(channels) * n * periods);
  unsigned state = 12345;
  for (short& x : data) {
    state = state * 1103515245u + 12345u;
    x = static_cast<short>(static_cast<int>(state >> 16 & 0xffff) - 32768);
  }
  write_pcm16(dir.path("noise.wav"), data, channels);
  dravik::Recording recording;
  ASSERT_TRUE(recording.open(dir.path("noise.wav")));
  EXPECT_TRUE(recording.is_pcm16());
  dravik::PeriodSums sums;
  sums.add_periods(recording, 0, n, periods, {1});
  std::vector<double> average(n);
  sums.average(0, average.data());
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int k = 0; k < periods; ++k) {
      sum += data[(static_cast<std::size_t>(k) * n + i) * channels + 1] / 32768.0;
    }
    ASSERT_EQ(average[i], sum / periods) << "sample " << i;
  }

  // Periods of one sample at -32768: 65536 of them sum to exactly -2^31,
  // 65537 to less than an int32 holds.
  for (int count : {65536, 65537}) {
    write_pcm16(dir.path("loud.wav"), std::vector<short>(count, -32768), 1);
    ASSERT_TRUE(recording.open(dir.path("loud.wav")));
    sums.add_periods(recording, 0, 1, count, {0});
    sums.average(0, average.data());
    EXPECT_EQ(average[0], -1.0) << count << " periods";
  }
}

TEST(Recording, RefusesWhatLibsndfileCannotOpen) {
  dravik_test::TempDir dir;
  dravik::Recording recording;
  EXPECT_FALSE(recording.open(dir.path("missing.wav")));
  dravik_test::write_raw_float(dir.path("noise.wav"), std::vector<double>(100, 0.25));
  EXPECT_FALSE(recording.open(dir.path("noise.wav")));
}

TEST(Recording, ReadsOnlyTheAnnouncedFramesAndReportsTheFirstMissingOne) {
  dravik_test::TempDir dir;
  dravik_test::write_wave(dir.path("ramp.wav"), ramp_recording(2, 1000), 2);
  dravik::Recording recording;
  ASSERT_TRUE(recording.open(dir.path("ramp.wav")));
  long long seen = 0;
  testing::internal::CaptureStdout();
  long long delivered = recording.read(900, 300, [&](const double* block, long long first, int frames) {
    EXPECT_EQ(block[0], (first) / 64.0);
    seen += frames;
  });
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(delivered, 100);
  EXPECT_EQ(seen, 100);
  EXPECT_EQ(out, "cannot read frame=1000\n");
}

}  // namespace
