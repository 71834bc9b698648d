// Transform, conjugation and normalisation of spectra against known answers.
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "tf/IRToSpectrum.h"

namespace trelvix {
namespace {

using C = std::complex<float>;

IRArray OneRow(const std::vector<float>& row) { return IRArray{{row}}; }

// Direct DFT in double precision, bins 0 .. n/2.
std::vector<std::complex<double>> DirectDft(const std::vector<float>& x) {
  const std::size_t n = x.size();
  std::vector<std::complex<double>> bins(n / 2 + 1);
  for (std::size_t k = 0; k < bins.size(); ++k)
    for (std::size_t t = 0; t < n; ++t)
      bins[k] += static_cast<double>(x[t]) * std::polar(1.0, -2.0 * M_PI * double(k * t % n) / double(n));
  return bins;
}

// Float rounding of an n-point transform grows like log2(n) ulps of the
// spectrum's magnitude; 1e-5 relative to the row's L1 norm covers n ≤ 4096
// with a wide margin while catching any wrong bin, sign or index.
void ExpectMatchesDirectDft(const std::vector<float>& x, uint32_t nfft) {
  const TFArray tf = DoFFT(OneRow(x), nfft);
  const auto expected = DirectDft(x);
  double l1 = 0;
  for (float v : x) l1 += std::fabs(v);
  ASSERT_EQ(tf[0][0].size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_NEAR(tf[0][0][k].real(), expected[k].real(), 1e-5 * l1) << "nfft " << nfft << " bin " << k;
    EXPECT_NEAR(tf[0][0][k].imag(), expected[k].imag(), 1e-5 * l1) << "nfft " << nfft << " bin " << k;
  }
}

std::vector<float> RandomRow(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> row(n);
  for (float& v : row) v = dist(gen);
  return row;
}

TEST(DoFFT, SmallTransformsGiveTheirTextbookBins) {
  // Exact small-integer answers: float rounding plays no part here.
  TFArray two = DoFFT(OneRow({3.0f, 5.0f}), 2);
  ASSERT_EQ(two[0][0].size(), 2u);
  EXPECT_EQ(two[0][0][0], C(8.0f, 0.0f));
  EXPECT_EQ(two[0][0][1], C(-2.0f, 0.0f));

  TFArray impulse = DoFFT(OneRow({1, 0, 0, 0}), 4);
  ASSERT_EQ(impulse[0][0].size(), 3u);
  for (const C& v : impulse[0][0]) EXPECT_EQ(v, C(1.0f, 0.0f));

  TFArray shifted = DoFFT(OneRow({0, 1, 0, 0}), 4);
  EXPECT_NEAR(std::abs(shifted[0][0][0] - C(1, 0)), 0.0f, 1e-7f);
  EXPECT_NEAR(std::abs(shifted[0][0][1] - C(0, -1)), 0.0f, 1e-7f);
  EXPECT_NEAR(std::abs(shifted[0][0][2] - C(-1, 0)), 0.0f, 1e-7f);
}

TEST(DoFFT, ShiftedImpulseIsALinearPhase) {
  // x[n] = delta(n - d) has X[k] = e^(-j 2 pi k d / N): unit magnitude;
  // 1e-5 absolute is a few float ulps of a unit value after 9 stages.
  const uint32_t n = 512;
  const std::size_t d = 37;
  std::vector<float> x(n, 0.0f);
  x[d] = 1.0f;
  const TFArray tf = DoFFT(OneRow(x), n);
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const std::complex<double> expected = std::polar(1.0, -2.0 * M_PI * double(k * d) / n);
    EXPECT_NEAR(tf[0][0][k].real(), expected.real(), 1e-5) << k;
    EXPECT_NEAR(tf[0][0][k].imag(), expected.imag(), 1e-5) << k;
  }
}

TEST(DoFFT, RandomRowsMatchADirectDftForEveryLength) {
  for (uint32_t n : {1u, 2u, 8u, 512u, 12u, 7u, 100u, 1000u, 4095u}) {
    ExpectMatchesDirectDft(RandomRow(n, n), n);
  }
}

TEST(DoFFT, EveryRowOfEverySourceIsTransformed) {
  IRArray ir(2, std::vector<std::vector<float>>(3, std::vector<float>(8, 0.0f)));
  for (std::size_t s = 0; s < 2; ++s)
    for (std::size_t m = 0; m < 3; ++m) ir[s][m][s + m] = float(1 + s * 3 + m);  // amplitude and delay differ
  const TFArray tf = DoFFT(ir, 8);
  ASSERT_EQ(tf.size(), 2u);
  for (std::size_t s = 0; s < 2; ++s) {
    ASSERT_EQ(tf[s].size(), 3u);
    for (std::size_t m = 0; m < 3; ++m) {
      ASSERT_EQ(tf[s][m].size(), 5u);
      const double amp = double(1 + s * 3 + m);
      const std::complex<double> bin1 = amp * std::polar(1.0, -2.0 * M_PI * double(s + m) / 8.0);
      EXPECT_NEAR(tf[s][m][0].real(), amp, 1e-5);
      EXPECT_NEAR(tf[s][m][1].real(), bin1.real(), 1e-5);
      EXPECT_NEAR(tf[s][m][1].imag(), bin1.imag(), 1e-5);
    }
  }
}

TEST(DoFFT, RefusesBadSizesAndAcceptsNoSources) {
  try {
    DoFFT(OneRow({1.0f}), 0);
    FAIL() << "nfft 0 accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "nfft must be at least 1, but 0 is given");
  }
  try {
    DoFFT(IRArray{{std::vector<float>(8)}, {std::vector<float>(8), std::vector<float>(6)}}, 8);
    FAIL() << "short row accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "impulse response of src 1, mic 1 has 6 samples, but nfft is 8");
  }
  EXPECT_TRUE(DoFFT(IRArray{}, 512).empty());
}

TEST(ConjugateTF, NegatesOnlyTheImaginaryPart) {
  TFArray tf = DoFFT(OneRow({0, 1, 0, 0}), 4);
  ConjugateTF(tf);
  EXPECT_NEAR(std::abs(tf[0][0][1] - C(0, 1)), 0.0f, 1e-7f);
  TFArray values{{{C(1, 2), C(-3, -4)}}};
  ConjugateTF(values);
  EXPECT_EQ(values[0][0][0], C(1, -2));
  EXPECT_EQ(values[0][0][1], C(-3, 4));
}

// The finiteness check runs on every core; whatever slice finds a bad value
// first, the message names the first one in [src][mic][bin] order.
TEST(FinishTF, NamesTheFirstNonFiniteValueInOrder) {
  struct Bad {
    std::size_t src, mic, bin;
    float value;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const struct {
    std::vector<Bad> bad;
    const char* message;
  } cases[] = {
      {{{900, 1, 2, inf}, {20, 0, 1, nan}}, "the transfer function of src 20, mic 0 is not finite (bin 1)"},
      {{{20, 1, 0, nan}, {20, 0, 2, -inf}}, "the transfer function of src 20, mic 0 is not finite (bin 2)"},
      {{{999, 1, 2, nan}}, "the transfer function of src 999, mic 1 is not finite (bin 2)"},
  };
  for (const auto& c : cases) {
    TFArray tf(1000, std::vector<std::vector<C>>(2, std::vector<C>(3, C(1, 0))));
    for (const Bad& b : c.bad) tf[b.src][b.mic][b.bin] = C(1, b.value);
    std::ostringstream report;
    try {
      FinishTF(tf, TFMakingParameters(), false, report);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

// [2 sources][3 microphones][5 bins] of distinct non-zero values.
TFArray Filled() {
  TFArray tf(2, std::vector<std::vector<C>>(3, std::vector<C>(5)));
  for (std::size_t s = 0; s < 2; ++s)
    for (std::size_t m = 0; m < 3; ++m)
      for (std::size_t k = 0; k < 5; ++k) tf[s][m][k] = C(float(1 + s + 2 * m + k), float(k) - 2.0f * s);
  return tf;
}

double Energy(const TFArray& tf, int s, int m, int k) {
  // -1 sums over that axis.
  double e = 0;
  for (std::size_t a = 0; a < tf.size(); ++a)
    for (std::size_t b = 0; b < tf[a].size(); ++b)
      for (std::size_t c = 0; c < tf[a][b].size(); ++c)
        if ((s < 0 || int(a) == s) && (m < 0 || int(b) == m) && (k < 0 || int(c) == k)) e += std::norm(tf[a][b][c]);
  return e;
}

TEST(Normalize, WithoutFlagsOnlyClearsTheLastBinSilently) {
  TFArray tf = Filled();
  const TFArray before = tf;
  std::ostringstream report;
  Normalize(tf, 8, false, false, false, report);
  EXPECT_EQ(report.str(), "");
  for (std::size_t s = 0; s < 2; ++s)
    for (std::size_t m = 0; m < 3; ++m) {
      for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(tf[s][m][k], before[s][m][k]);
      EXPECT_EQ(tf[s][m][4], C(0, 0));
    }
}

// Unit energy within float rounding of a sum of at most 30 terms: 1e-5.
TEST(Normalize, EachAxisChoiceGivesUnitEnergyBlocks) {
  {
    TFArray tf = Filled();
    std::ostringstream report;
    Normalize(tf, 8, false, false, true, report);
    EXPECT_EQ(report.str(), "tf_vect size: 2, 3, 5\n");
    for (int s = 0; s < 2; ++s)
      for (int m = 0; m < 3; ++m) EXPECT_NEAR(Energy(tf, s, m, -1), 1.0, 1e-5);
  }
  {
    TFArray tf = Filled();
    std::ostringstream report;
    Normalize(tf, 8, false, true, false, report);
    for (int s = 0; s < 2; ++s) {
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(Energy(tf, s, -1, k), 1.0, 1e-5);
      EXPECT_EQ(Energy(tf, s, -1, 4), 0.0);  // the cleared bin is a zero block and stays 0
    }
  }
  {
    TFArray tf = Filled();
    std::ostringstream report;
    Normalize(tf, 8, true, false, false, report);
    for (int m = 0; m < 3; ++m)
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(Energy(tf, -1, m, k), 1.0, 1e-5);
  }
  {
    TFArray tf = Filled();
    std::ostringstream report;
    Normalize(tf, 8, true, true, true, report);
    EXPECT_NEAR(Energy(tf, -1, -1, -1), 1.0, 1e-5);
  }
}

TEST(Normalize, ZeroArraysStayZeroAndEmptyArraysReportZeroSizes) {
  TFArray zeros(1, std::vector<std::vector<C>>(2, std::vector<C>(3)));
  std::ostringstream report;
  Normalize(zeros, 4, true, true, true, report);
  EXPECT_EQ(report.str(), "tf_vect size: 1, 2, 3\n");
  for (const auto& row : zeros[0])
    for (const C& v : row) EXPECT_EQ(v, C(0, 0));

  TFArray empty;
  std::ostringstream emptyReport;
  Normalize(empty, 4, false, true, false, emptyReport);
  EXPECT_EQ(emptyReport.str(), "tf_vect size: 0, 0, 0\n");
}

}  // namespace
}  // namespace trelvix
