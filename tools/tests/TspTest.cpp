// The TSP generator: flat spectrum, sweep placement, exact scale and
// periodicity of the playback, and the raw float file's byte order.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <unistd.h>

#include <gtest/gtest.h>

#include "FloatFile.h"
#include "ParametersToTsp.h"
#include "base/RealFft.h"
#include "RunProcess.h"
#include "ScratchDir.h"
#include "SoundFile.h"
#include "ToolError.h"

using namespace vesktools;

namespace {

template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(Tsp, MagnitudeSpectrumIsFlat) {
  for (std::size_t n : {std::size_t{4096}, std::size_t{16384}}) {
    TspParameters p;
    p.length_samples = n;
    p.effective_length_samples = n / 2;
    const std::vector<float> tsp = MakeTsp(p);
    vesk::RealFft<double> fft(n);
    std::copy(tsp.begin(), tsp.end(), fft.Time());
    fft.Forward();
    // Parseval: with a flat spectrum every |X[k]| equals sqrt(sum x^2).
    double energy = 0;
    for (float v : tsp) energy += double(v) * v;
    const double expected = std::sqrt(energy);
    // Rounding to whole numbers adds error of rms 1/sqrt(12) per sample, so
    // about 0.29 sqrt(N) per bin: below 1e-4 of the magnitude here; 1e-3
    // leaves room and still catches any shaping of the spectrum.
    double worst = 0;
    for (std::size_t k = 0; k < fft.NumBins(); ++k)
      worst = std::max(worst, std::abs(std::abs(fft.Spectrum()[k]) - expected) / expected);
    EXPECT_LT(worst, 1e-3) << "N = " << n;
  }
}

TEST(Tsp, SweepSitsInTheMiddleWithTheRequestedPeak) {
  TspParameters p;  // N 16384, sweep 8192 samples, rotated to start at 4096
  const std::vector<float> tsp = MakeTsp(p);
  float peak = 0;
  for (float v : tsp) {
    peak = std::max(peak, std::abs(v));
    EXPECT_EQ(v, std::round(v));  // whole 16-bit values
  }
  EXPECT_EQ(peak, 32767.0f);
  // Outside the sweep only the ripple of the band edges remains: the first
  // and last eighth of the period stay below 2 % of the peak.
  const std::size_t eighth = tsp.size() / 8;
  for (std::size_t t = 0; t < eighth; ++t) {
    EXPECT_LT(std::abs(tsp[t]), 0.02f * peak) << t;
    EXPECT_LT(std::abs(tsp[tsp.size() - 1 - t]), 0.02f * peak) << t;
  }
  // The sweep rises in frequency: zero crossings are sparser in its first
  // quarter than in its last.
  auto crossings = [&](std::size_t from, std::size_t to) {
    int c = 0;
    for (std::size_t t = from + 1; t < to; ++t) c += (tsp[t - 1] < 0) != (tsp[t] < 0);
    return c;
  };
  EXPECT_LT(crossings(4096, 6144), crossings(10240, 12288) / 2);
}

TEST(Tsp, PlaybackRepeatsTheOriginExactlyInTheNormalisedScale) {
  TspParameters p;
  p.length_samples = 4096;
  p.effective_length_samples = 2048;
  const std::vector<float> tsp = MakeTsp(p);
  const std::size_t periods = PlaybackPeriods(4096, 4096, 3);
  EXPECT_EQ(periods, 4u);
  EXPECT_EQ(PlaybackPeriods(4096, 0, 3), 3u);
  EXPECT_EQ(PlaybackPeriods(4096, 1, 3), 4u);
  const vesk_test::ScratchDir dir;
  const std::string path = (dir / "playback.wav");
  WritePcm16(path, 16000, TspToPlayback(tsp, periods));
  const Sound back = ReadSound(path);
  ASSERT_EQ(back.channels.size(), 1u);
  ASSERT_EQ(back.Frames(), 4 * 4096u);
  EXPECT_EQ(back.sampleRateHz, 16000);
  // The impulse calculator divides the float origin by 32768 and reads the
  // recording normalised: both must give the very same numbers.
  for (std::size_t t = 0; t < back.Frames(); ++t) ASSERT_EQ(back.channels[0][t], tsp[t % 4096] / 32768.0) << t;
}

TEST(Tsp, RejectsUnusableParameters) {
  TspParameters p;
  p.length_samples = 12000;
  EXPECT_EQ(ErrorOf([&] { MakeTsp(p); }), "TSP length must be a power of two of at least 4, found 12000");
  p.length_samples = 1024;
  p.effective_length_samples = 513;
  EXPECT_EQ(ErrorOf([&] { MakeTsp(p); }), "TSP effective length must be even and between 2 and 1024, found 513");
  p.effective_length_samples = 2048;
  EXPECT_EQ(ErrorOf([&] { MakeTsp(p); }), "TSP effective length must be even and between 2 and 1024, found 2048");
  p.effective_length_samples = 512;
  p.peak = 40000;
  EXPECT_EQ(ErrorOf([&] { MakeTsp(p); }), "TSP peak must lie in [1, 32767], found 40000");
}

TEST(FloatFile, WritesLittleEndianAndRefusesTornFiles) {
  const vesk_test::ScratchDir dir;
  const std::string path = (dir / "a.flt");
  WriteFloat32LE(path, {1.0f, -2.5f});
  const std::string expected{'\x00', '\x00', '\x80', '\x3f', '\x00', '\x00', '\x20', '\xc0'};
  EXPECT_EQ(vesk_test::ReadWholeFile(path), expected);
  EXPECT_EQ(ReadFloat32LE(path), (std::vector<float>{1.0f, -2.5f}));

  const std::string torn = (dir / "torn.flt");
  std::ofstream(torn, std::ios::binary) << "0123456789";
  EXPECT_EQ(ErrorOf([&] { ReadFloat32LE(torn); }), torn + ": expected a multiple of 4 bytes, found 10");
  EXPECT_EQ(ErrorOf([&] { ReadFloat32LE((dir / "missing.flt")); }), "cannot open " + (dir / "missing.flt"));
}

TEST(SoundFile, Pcm16RefusesToClipAndFloatKeepsValues) {
  const vesk_test::ScratchDir dir;
  Sound s;
  s.sampleRateHz = 8000;
  s.channels = {{0.0, 0.5, -1.0}, {0.25, 1.25, 0.0}};
  const std::string f = (dir / "f.wav");
  WriteSound(f, s, WaveFormat::FLOAT32);
  const Sound back = ReadSound(f);
  EXPECT_EQ(back.channels, s.channels);  // all exactly representable in float
  const std::string p = (dir / "p.wav");
  EXPECT_EQ(ErrorOf([&] { WriteSound(p, s, WaveFormat::PCM16); }),
            p + ": channel 1 clips in 16-bit PCM at frame 1 (value 1.25); lower the gain or write float");
  EXPECT_FALSE(std::filesystem::exists(p));
  s.channels[1][1] = 32767.0 / 32768.0;
  WriteSound(p, s, WaveFormat::PCM16);
  EXPECT_EQ(ReadSound(p).channels, s.channels);
}
