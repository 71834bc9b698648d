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
