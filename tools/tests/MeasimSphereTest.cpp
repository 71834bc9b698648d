// The rigid sphere's scattering series against its known limits and against
// a second evaluation through the standard library's Bessel functions.
#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

#include "SphereToResponse.h"
#include "ToolError.h"

using namespace vesktools;

namespace {

// Second evaluation with raw spherical Bessel and Neumann values (fine at
// the moderate orders used here), physical convention (conjugate it): p = -(r e^(-ikr)/(k a^2)) sum (2n+1) P_n
// h_n(kr)/h_n'(ka); r = 0 means a plane wave, p = (i/(ka)^2) sum (2n+1)
// (-i)^n P_n / h_n'(ka).
std::complex<double> DirectSeries(double k, double a, double r, double t) {
  const std::complex<double> i(0, 1);
  auto h = [](unsigned n, double x) { return std::complex<double>(std::sph_bessel(n, x), std::sph_neumann(n, x)); };
  auto hPrime = [&](unsigned n, double x) { return n == 0 ? -h(1, x) : h(n - 1, x) - (n + 1.0) / x * h(n, x); };
  std::complex<double> sum = 0;
  double pPrev = 0, p = 1;
  for (unsigned n = 0; n < 80; ++n) {
    if (n > 0) {
      const double next = ((2.0 * n - 1) * t * p - (n - 1.0) * pPrev) / n;
      pPrev = p;
      p = next;
    }
    sum += (2.0 * n + 1) * p * (r == 0 ? std::pow(-i, n) / hPrime(n, k * a) : h(n, k * r) / hPrime(n, k * a));
  }
  return r == 0 ? i / (k * a * k * a) * sum : -(r * std::exp(-i * k * r) / (k * a * a)) * sum;
}

struct SeriesCase {
  double ka, rOverA, cosAngle;  // rOverA 0: plane wave, compared at r = 1e6 m
};

class SphereSeries : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(SphereSeries, AgreesWithTheRawBesselEvaluation) {
  const SeriesCase c = GetParam();
  const double a = 0.1, k = c.ka / a;
  const double r = c.rOverA == 0 ? 1e6 : c.rOverA * a;
  const std::complex<double> fast = SpherePressure(c.ka, k * r, c.cosAngle);
  const std::complex<double> direct = std::conj(DirectSeries(k, a, c.rOverA == 0 ? 0.0 : r, c.cosAngle));
  // 1e-6: the required agreement; both sums stop far below it.
  EXPECT_LT(std::abs(fast - direct), 1e-6 * std::abs(direct)) << fast << " vs " << direct;
}

INSTANTIATE_TEST_SUITE_P(Cases, SphereSeries,
                         ::testing::Values(SeriesCase{0.3, 1.5, 0.2}, SeriesCase{2.0, 1.5, -0.7},
                                           SeriesCase{6.0, 3.0, 1.0}, SeriesCase{6.0, 15.0, -1.0},
                                           SeriesCase{1.0, 0, 0.5}, SeriesCase{9.0, 0, -0.3}));

TEST(SpherePressure, FollowsTheLowFrequencyLimit) {
  // p = 1 + (3/2) i ka cos + O((ka)^2) for a distant source; the imaginary
  // part's next term is O((ka)^3), so it meets the ka term to (ka)^2.
  for (double ka : {0.005, 0.02, 0.049})
    for (double t : {1.0, 0.5, -0.8}) {
      const std::complex<double> p = SpherePressure(ka, ka * 1e5, t);
      EXPECT_NEAR(p.imag(), 1.5 * ka * t, 0.01 * 1.5 * ka * std::fabs(t)) << ka << " " << t;
      EXPECT_NEAR(p.real(), 1.0, 2 * ka * ka) << ka << " " << t;
    }
}

TEST(SpherePressure, DoublesOnTheFacingSideAtHighKa) {
  // Pressure doubling (+6.02 dB) at the point facing a distant source; at
  // ka 400 raw Bessel values of the needed orders overflow a double.
  for (double ka : {20.0, 400.0}) {
    const double db = 20 * std::log10(std::abs(SpherePressure(ka, ka * 1e7, 1.0)));
    EXPECT_NEAR(db, 20 * std::log10(2.0), 0.5) << ka;
  }
}

TEST(SphereResponse, IsReciprocal) {
  // Source at 1.2 m in direction u, microphone at direction v, and the other
  // way round: the same response.
  ResponseSettings s;
  const Point3 u{0.6, 0.0, 0.8}, v{-0.28, 0.96, 0.0};
  std::vector<double> forward(1024, 0.0), backward(1024, 0.0);
  AddSphereResponse(forward, Point3{1.2 * u.x, 1.2 * u.y, 1.2 * u.z}, v, 0.09, 1.0, s);
  AddSphereResponse(backward, Point3{1.2 * v.x, 1.2 * v.y, 1.2 * v.z}, u, 0.09, 1.0, s);
  double peak = 0;
  for (double x : forward) peak = std::max(peak, std::fabs(x));
  EXPECT_GT(peak, 0.1);
  for (std::size_t n = 0; n < forward.size(); ++n) ASSERT_NEAR(forward[n], backward[n], 1e-12 * peak) << n;
}

TEST(SphereResponse, IsTheFreeFieldAtLowFrequencyAndRefusesASourceInside) {
  // Far below the sphere's first resonance the response's spectrum is the
  // free field at the centre: its sum (0 Hz) is the static limit
  // 1/r * sum (2n+1)/(n+1) (a/r)^n P_n.
  ResponseSettings s;
  std::vector<double> r(2048, 0.0);
  AddSphereResponse(r, Point3{2.0, 0, 0}, Point3{1, 0, 0}, 0.1, 1.0, s);
  double sum = 0;
  for (double x : r) sum += x;
  double limit = 0;
  for (int n = 0; n < 20; ++n) limit += (2.0 * n + 1) / (n + 1) * std::pow(0.05, n);  // P_n(1) = 1
  EXPECT_NEAR(sum, 0.5 * limit, 1e-6);  // the cut pre-ringing of the band limit is below 1e-6
  std::vector<double> small(2048, 0.0);
  EXPECT_THROW(AddSphereResponse(small, Point3{0.05, 0, 0}, Point3{1, 0, 0}, 0.1, 1.0, s), ToolError);
}

}  // namespace
