#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ImpulseFromAverage.h"
#include "TestSignals.h"

namespace {

using dravik_test::circular_convolve;
using dravik_test::make_tsp;

// The TSP has a flat unit spectrum, so the deconvolution loses nothing but
// double rounding across two 8192-point transforms: 1e-9 of the peak.
constexpr double kTolerance = 1e-9;

std::vector<double> delayed(int delay, double gain) {
  std::vector<double> response(delay + 1, 0.0);
  response[delay] = gain;
  return response;
}

std::vector<double> impulse_of(const std::vector<double>& reference, const std::vector<double>& average,
                               bool highpass = false, int low_hz = 0, int high_hz = 0) {
  dravik::ImpulseFromAverage maker(reference, static_cast<int>(reference.size()), highpass, low_hz, high_hz);
  std::vector<double> impulse(dravik::kImpulseLength);
  maker.compute(average.data(), impulse.data());
  return impulse;
}

TEST(ImpulseFromAverage, PeriodEqualToReferenceGivesUnitImpulse) {
  std::vector<double> tsp = make_tsp(8192, 1.0);
  std::vector<double> impulse = impulse_of(tsp, tsp);
  ASSERT_EQ(impulse.size(), 4096u);
  EXPECT_NEAR(impulse[0], 1.0, kTolerance);
  for (int m = 1; m < 4096; ++m) EXPECT_NEAR(impulse[m], 0.0, kTolerance) << "sample " << m;
}

TEST(ImpulseFromAverage, DelayAndGainComeBack) {
  std::vector<double> tsp = make_tsp(8192, 1.0);
  for (int delay : {1, 250, 4095}) {
    std::vector<double> impulse = impulse_of(tsp, circular_convolve(tsp, delayed(delay, -0.75)));
    for (int m = 0; m < 4096; ++m) {
      EXPECT_NEAR(impulse[m], m == delay ? -0.75 : 0.0, kTolerance) << "delay " << delay << " sample " << m;
    }
  }
}

TEST(ImpulseFromAverage, ShortFirComesBackAndTheRestIsCropped) {
  std::vector<double> tsp = make_tsp(8192, 1.0);
  std::vector<double> fir(120, 0.0);
  fir[100] = 0.5;
  fir[101] = -0.25;
  fir[103] = 0.125;
  fir[119] = 0.0625;
  // A tap beyond the 4096 kept samples must not fold back in.
  fir.resize(5000, 0.0);
  fir[4999] = 0.3;
  std::vector<double> impulse = impulse_of(tsp, circular_convolve(tsp, fir));
  for (int m = 0; m < 4096; ++m) EXPECT_NEAR(impulse[m], fir[m], kTolerance) << "sample " << m;
}

TEST(ImpulseFromAverage, PairOfChannelsMatchesEachAlone) {
  // Channel b is 100 dB below channel a: its rounding error is relative to
  // a (up to about 1e-15 of a's peak), which is 1e-10 of b's own peak.
  std::vector<double> tsp = make_tsp(8192, 1.0);
  std::vector<double> fir_a(400, 0.0), fir_b(4000, 0.0);
  fir_a[17] = 1.0;
  fir_a[399] = -0.5;
  fir_b[3] = 1e-5;
  fir_b[3999] = 2e-5;
  std::vector<double> avg_a = circular_convolve(tsp, fir_a), avg_b = circular_convolve(tsp, fir_b);
  for (bool highpass : {false, true}) {
    std::vector<double> alone_a = impulse_of(tsp, avg_a, highpass, 100, 300);
    std::vector<double> alone_b = impulse_of(tsp, avg_b, highpass, 100, 300);
    dravik::ImpulseFromAverage maker(tsp, 8192, highpass, 100, 300);
    std::vector<double> pair_a(4096), pair_b(4096);
    double* input = maker.pair_input();
    for (int m = 0; m < 8192; ++m) {
      input[2 * m] = avg_a[m];
      input[2 * m + 1] = avg_b[m];
    }
    maker.compute_pair(pair_a.data(), pair_b.data());
    for (int m = 0; m < 4096; ++m) {
      ASSERT_NEAR(pair_a[m], alone_a[m], 1e-12) << "highpass " << highpass << " sample " << m;
      ASSERT_NEAR(pair_b[m], alone_b[m], 1e-15) << "highpass " << highpass << " sample " << m;
    }
    if (!highpass) {
      EXPECT_NEAR(pair_b[3], 1e-5, 1e-15);
      EXPECT_NEAR(pair_b[3999], 2e-5, 1e-15);
    }
  }
}

TEST(HighpassRamp, BinBoundsRoundHalfAwayFromZero) {
  EXPECT_EQ(dravik::ramp_bin(100), 26);  // 25.6
  EXPECT_EQ(dravik::ramp_bin(2), 1);     // 0.512
  EXPECT_EQ(dravik::ramp_bin(1), 0);     // 0.256
}

TEST(HighpassRamp, RampWeightsAreSymmetricAndReachOneBeforeTheUpperBin) {
  std::vector<double> w = dravik::highpass_weights(0, 26);
  ASSERT_EQ(w.size(), 4096u);
  for (int k = 0; k < 25; ++k) EXPECT_DOUBLE_EQ(w[k], (k + 1) / 26.0) << "bin " << k;
  for (int k = 25; k <= 4071; ++k) EXPECT_EQ(w[k], 1.0) << "bin " << k;
  for (int k = 1; k < 4096; ++k) EXPECT_EQ(w[k], w[4096 - k]) << "bin " << k;
}

TEST(HighpassRamp, EqualBoundsMakeAStep) {
  std::vector<double> w = dravik::highpass_weights(26, 26);
  for (int k = 0; k < 4096; ++k) {
    int j = std::min(k, 4096 - k);
    EXPECT_EQ(w[k], j < 26 ? 0.0 : 1.0) << "bin " << k;
  }
  std::vector<double> inverted = dravik::highpass_weights(40, 10);
  EXPECT_EQ(inverted[39], 0.0);
  EXPECT_EQ(inverted[40], 1.0);
}

TEST(HighpassRamp, StepRemovesTheDcOfADelayedResponse) {
  std::vector<double> tsp = make_tsp(8192, 1.0);
  std::vector<double> plain = impulse_of(tsp, circular_convolve(tsp, delayed(300, 2.0)));
  std::vector<double> filtered = impulse_of(tsp, circular_convolve(tsp, delayed(300, 2.0)), true, 100, 100);
  double plain_sum = 0.0, filtered_sum = 0.0;
  for (int m = 0; m < 4096; ++m) {
    plain_sum += plain[m];
    filtered_sum += filtered[m];
  }
  EXPECT_NEAR(plain_sum, 2.0, kTolerance);
  EXPECT_NEAR(filtered_sum, 0.0, kTolerance);
  // Removing 26 of 2048 bins keeps the peak at the delay, slightly lower.
  EXPECT_NEAR(filtered[300], 2.0 * (1.0 - 51.0 / 4096.0), kTolerance);
}

}  // namespace
