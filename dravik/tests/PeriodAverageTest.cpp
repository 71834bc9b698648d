#include <gtest/gtest.h>

#include <vector>

#include "PeriodAverage.h"
#include "TestSignals.h"

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
    std::vector<std::vector<double>> averages;
    dravik::average_periods(recording, 1234, 5000, 12, {0, 2}, &averages);
    ASSERT_EQ(averages.size(), 2u);
    for (int idx = 0; idx < 2; ++idx) {
        int c = idx == 0 ? 0 : 2;
        ASSERT_EQ(averages[idx].size(), 5000u);
        for (int i = 0; i < 5000; i += 7) {
            EXPECT_DOUBLE_EQ(averages[idx][i], 1000.0 * c + (1234 + i + 5000 * 11 / 2.0) / 64.0)
                << "channel " << c << " sample " << i;
        }
    }
}

TEST(PeriodAverage, OnePeriodFromTheStartIsTheChannelItself) {
    dravik_test::TempDir dir;
    dravik_test::write_wave(dir.path("ramp.wav"), ramp_recording(2, 4096), 2);
    dravik::Recording recording;
    ASSERT_TRUE(recording.open(dir.path("ramp.wav")));
    std::vector<std::vector<double>> averages;
    dravik::average_periods(recording, 0, 4096, 1, {1}, &averages);
    for (int i = 0; i < 4096; ++i) EXPECT_EQ(averages[0][i], 1000.0 + i / 64.0);
}

TEST(PeriodAverage, SixteenBitSamplesAreScaledToFullScaleOne) {
    dravik_test::TempDir dir;
    std::vector<double> data(8192, 0.5);  // 16384 as a 16-bit sample
    dravik_test::write_wave(dir.path("half.wav"), data, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    dravik::Recording recording;
    ASSERT_TRUE(recording.open(dir.path("half.wav")));
    std::vector<std::vector<double>> averages;
    dravik::average_periods(recording, 0, 4096, 2, {0}, &averages);
    EXPECT_EQ(averages[0][17], 0.5);
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
