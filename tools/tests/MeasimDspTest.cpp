// The simulator's signal core: fractional delay, response geometry, room
// tail, overlap-add convolution and sensor noise, against known answers.
#include <cmath>
#include <complex>
#include <numeric>
#include <random>

#include <gtest/gtest.h>

#include "DelayToFilter.h"
#include "GeometryToResponse.h"
#include "base/RealFft.h"
#include "ResponseToRecording.h"
#include "Rt60ToTail.h"
#include "ToolError.h"

using namespace vesktools;

// The window's Bessel function against the standard library's (an
// independent evaluation; one thread, so its global state does no harm):
// both are good to a few ulps, so 1e-13 relative holds with room.
TEST(FractionalDelay, KaiserBesselFunctionMatchesTheStandardOne) {
  for (double x : {0.0, 1e-8, 0.5, 1.0, 3.7, 8.0, 12.5, 25.0, 50.0})
    EXPECT_NEAR(BesselI0(x) / std::cyl_bessel_i(0.0, x), 1.0, 1e-13) << "x = " << x;
}

TEST(FractionalDelay, IntegerDelayIsAnImpulse) {
  std::vector<double> r(512, 0.0);
  AddFractionalDelay(r, 200.0, 0.5, FractionalDelayDesign{});
  for (std::size_t n = 0; n < r.size(); ++n)
    EXPECT_NEAR(r[n], n == 200 ? 0.5 : 0.0, 1e-15) << n;  // sinc zero crossings, up to sin(pi k) rounding
}

TEST(FractionalDelay, IsAPureDelayUpToThreeQuartersOfNyquist) {
  const std::size_t n = 1024;
  for (double delay : {300.25, 301.5, 333.7}) {
    vesk::RealFft<double> fft(n);
    std::vector<double> r(n, 0.0);
    AddFractionalDelay(r, delay, 1.0, FractionalDelayDesign{});
    std::copy(r.begin(), r.end(), fft.Time());
    fft.Forward();
    // Kaiser beta 8 over 254 samples keeps pass-band errors near 1e-4; the
    // accuracy the array measurements need is 0.01 rad at 0.75 Nyquist.
    for (std::size_t k = 1; k <= 3 * n / 8; ++k) {
      const double omega = 2 * M_PI * double(k) / double(n);
      const std::complex<double> err = fft.Spectrum()[k] * std::polar(1.0, omega * delay);
      EXPECT_NEAR(std::abs(err), 1.0, 1e-3) << "delay " << delay << " bin " << k;
      EXPECT_NEAR(std::arg(err), 0.0, 1e-3) << "delay " << delay << " bin " << k;
    }
  }
}

TEST(FractionalDelay, RefusesTapsOutsideTheResponse) {
  std::vector<double> r(300, 0.0);
  try {
    AddFractionalDelay(r, 100.0, 1.0, FractionalDelayDesign{});
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(), "a delay of 100 samples with a filter half-width of 127 does not fit into 300 samples");
  }
  EXPECT_THROW(AddFractionalDelay(r, 200.0, 1.0, FractionalDelayDesign{}), ToolError);  // 327 > 299
}

TEST(GeometryToResponse, KnownDistanceGivesDelayAndLevel) {
  ResponseSettings s;  // 16 kHz, 343 m/s, latency 128 samples
  // 1.715 m is exactly 80 samples at 16 kHz: the direct sound lands on 208.
  const Point3 source{1.0, 1.2, 0.6}, mic{1.0 - 1.715 * 0.6, 1.2 + 1.715 * 0.8, 0.6};
  EXPECT_NEAR(DirectDelaySamples(source, mic, s), 208.0, 1e-9);
  const std::vector<double> r = GeometryToResponse(source, mic, s, 0, 0);
  ASSERT_EQ(r.size(), 4096u);
  const auto peak = std::max_element(r.begin(), r.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
  EXPECT_EQ(peak - r.begin(), 208);
  EXPECT_NEAR(*peak, 1.0 / 1.715, 1e-9);  // 1/r, unit level at 1 m
  // Twice as far: half the level, 80 samples later.
  const Point3 far{1.0 - 3.43 * 0.6, 1.2 + 3.43 * 0.8, 0.6};
  const std::vector<double> r2 = GeometryToResponse(source, far, s, 0, 0);
  EXPECT_NEAR(r2[288], 0.5 / 1.715, 1e-9);
  EXPECT_NEAR(r2[208], 0.0, 1e-12);
}

TEST(GeometryToResponse, RoomTailHasTheRequestedEnergyAndIsRepeatable) {
  ResponseSettings s;
  s.rt60_s = 0.2;
  s.drr_db = 3.0;
  const Point3 source{2.0, 0, 0}, mic{0, 0, 0};  // 2 m: direct level 0.5, 93.3 samples
  const std::vector<double> a = GeometryToResponse(source, mic, s, 4, 2);
  EXPECT_EQ(a, GeometryToResponse(source, mic, s, 4, 2));
  EXPECT_NE(a, GeometryToResponse(source, mic, s, 4, 3));
  ResponseSettings dry = s;
  dry.rt60_s = 0.0;
  const std::vector<double> d = GeometryToResponse(source, mic, dry, 4, 2);
  double direct = 0, tail = 0;
  for (std::size_t n = 0; n < a.size(); ++n) {
    direct += d[n] * d[n];
    tail += (a[n] - d[n]) * (a[n] - d[n]);
  }
  EXPECT_NEAR(direct, 0.25, 0.25 * 0.01);                 // the window's taper keeps about 99.5 % of the sinc's energy
  EXPECT_NEAR(tail, 0.25 * std::pow(10.0, -0.3), 1e-12);  // scaled exactly to the DRR
  const auto onset = static_cast<std::size_t>(std::ceil(DirectDelaySamples(source, mic, s) + 32));
  for (std::size_t n = 0; n + 130 < onset; ++n) EXPECT_EQ(a[n], d[n]) << n;  // nothing before the filter's reach
}

TEST(RoomTail, DecaysSixtyDecibelsPerRt60) {
  std::vector<double> r(16000, 0.0);
  std::mt19937_64 rng(7);
  AddRoomTail(r, 0, 0.5, 16000.0, 1.0, rng);  // rt60 = 8000 samples
  double first = 0, second = 0;
  for (std::size_t n = 0; n < 4000; ++n) first += r[n] * r[n];
  for (std::size_t n = 4000; n < 8000; ++n) second += r[n] * r[n];
  // Half an RT60 later the energy is 30 dB lower. 4000 Gaussian draws per
  // window leave a few per cent of scatter; 25 % bounds catch a wrong slope.
  EXPECT_NEAR(first / second, 1000.0, 250.0);
  std::mt19937_64 rng2(7);
  EXPECT_THROW(AddRoomTail(r, 0, 0.0, 16000.0, 1.0, rng2), ToolError);
}

TEST(PlaybackConvolver, MatchesDirectConvolutionAcrossBlocks) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> x(5000), h(700);
  for (double& v : x) v = u(rng);
  for (double& v : h) v = u(rng);
  PlaybackConvolver conv(x, 900);  // FFT 2048, blocks of 1149: five blocks
  const std::vector<double> y = conv.Convolve(h);
  ASSERT_EQ(y.size(), 5000u + 899u);
  for (std::size_t n = 0; n < y.size(); ++n) {
    double ref = 0;
    for (std::size_t k = 0; k < h.size(); ++k)
      if (n >= k && n - k < x.size()) ref += h[k] * x[n - k];
    ASSERT_NEAR(y[n], ref, 1e-10) << n;  // double FFT rounding, sums of ~700 unit terms
  }
  // A delayed impulse shifts the playback.
  std::vector<double> delta(900, 0.0);
  delta[37] = 2.0;
  const std::vector<double> shifted = conv.Convolve(delta);
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(shifted[n + 37], 2.0 * x[n], 1e-12);
  EXPECT_THROW(conv.Convolve(std::vector<double>(901, 0.0)), ToolError);
}

TEST(SensorNoise, HasTheRequestedSnrAndLeavesSilenceAlone) {
  std::vector<double> s(200000);
  for (std::size_t n = 0; n < s.size(); ++n) s[n] = std::sin(0.01 * double(n));  // power 0.5
  std::vector<double> noisy = s;
  std::mt19937_64 rng(11);
  AddSensorNoise(noisy, 20.0, rng);
  double noise = 0;
  for (std::size_t n = 0; n < s.size(); ++n) noise += (noisy[n] - s[n]) * (noisy[n] - s[n]);
  noise /= double(s.size());
  EXPECT_NEAR(noise, 0.005, 0.005 * 0.02);  // 2e5 draws: about 0.3 % scatter
  std::vector<double> silent(100, 0.0);
  AddSensorNoise(silent, 20.0, rng);
  EXPECT_EQ(silent, std::vector<double>(100, 0.0));
}
