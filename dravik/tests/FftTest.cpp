#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Fft.h"

namespace {

const double kPi = 3.14159265358979323846;

// Transform outputs grow with n; rounding of an n-point FFT stays within a
// few ulps times log2(n) of the largest output, so 1e-9 of n is generous.
double tolerance(int n) { return 1e-9 * n; }

class FftSizes : public ::testing::TestWithParam<int> {};

TEST_P(FftSizes, ImpulseAtDelayGivesUnitPhasor) {
  const int n = GetParam();
  const int delay = 37;
  dravik::Fft fft(n);
  std::vector<double> x(n, 0.0), re(n), im(n);
  x[delay] = 1.0;
  fft.forward(x.data(), re.data(), im.data());
  for (int bin = 0; bin < n; ++bin) {
    double angle = -2.0 * kPi * bin * delay / n;
    EXPECT_NEAR(re[bin], std::cos(angle), tolerance(n)) << "bin " << bin;
    EXPECT_NEAR(im[bin], std::sin(angle), tolerance(n)) << "bin " << bin;
  }
}

TEST_P(FftSizes, DcAndSineLandInTheirBins) {
  const int n = GetParam();
  const int cycles = 3;
  dravik::Fft fft(n);
  std::vector<double> x(n), re(n), im(n);
  for (int m = 0; m < n; ++m) x[m] = 0.25 + std::sin(2.0 * kPi * cycles * m / n);
  fft.forward(x.data(), re.data(), im.data());
  for (int bin = 0; bin < n; ++bin) {
    double want_re = bin == 0 ? 0.25 * n : 0.0;
    // sin = (e^{+iθ} - e^{-iθ}) / 2i: -n/2·i at +cycles, +n/2·i at -cycles.
    double want_im = bin == cycles ? -n / 2.0 : bin == n - cycles ? n / 2.0 : 0.0;
    EXPECT_NEAR(re[bin], want_re, tolerance(n)) << "bin " << bin;
    EXPECT_NEAR(im[bin], want_im, tolerance(n)) << "bin " << bin;
  }
}

TEST_P(FftSizes, InverseUsesPositiveExponentAndNoScaling) {
  const int n = GetParam();
  const int bin0 = 5;
  dravik::Fft fft(n);
  std::vector<double> xre(n, 0.0), xim(n, 0.0), re(n), im(n);
  xre[bin0] = 2.0;
  fft.inverse(xre.data(), xim.data(), re.data(), im.data());
  for (int m = 0; m < n; ++m) {
    double angle = 2.0 * kPi * bin0 * m / n;
    EXPECT_NEAR(re[m], 2.0 * std::cos(angle), tolerance(n)) << "sample " << m;
    EXPECT_NEAR(im[m], 2.0 * std::sin(angle), tolerance(n)) << "sample " << m;
  }
}

INSTANTIATE_TEST_SUITE_P(PowerOfTwoAndOther, FftSizes, ::testing::Values(64, 4096, 6000));

}  // namespace
