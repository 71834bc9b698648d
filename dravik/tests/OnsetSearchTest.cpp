#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "OnsetSearch.h"
#include "TestSignals.h"

namespace {

// Magnitudes that are zero except at the given (lag, value) points.
std::vector<double> magnitudes(int lags, const std::vector<std::pair<int, double>>& points) {
  std::vector<double> m(lags, 0.0);
  for (const auto& point : points) m[point.first] = point.second;
  return m;
}

TEST(SearchTransformLength, IsTheLargestPowerOfTwoNotAbove) {
  EXPECT_EQ(dravik::search_transform_length(40000), 32768);
  EXPECT_EQ(dravik::search_transform_length(65536), 65536);
  EXPECT_EQ(dravik::search_transform_length(65535), 32768);
  EXPECT_EQ(dravik::search_transform_length(16384), 16384);
  EXPECT_EQ(dravik::search_transform_length(1), 1);
  for (int bits = 1; bits < 31; ++bits) {
    EXPECT_EQ(dravik::search_transform_length(1 << bits), 1 << bits) << bits;
  }
}

TEST(PickOnsetLag, EarlierStrongPeakWinsOverALaterMaximum) {
  // Eight small raises, a strong peak at 10000 and the maximum at 30000:
  // ten history entries, only 10000 lies below 30000 - 12288 with more
  // than half the maximum.
  std::vector<std::pair<int, double>> points;
  for (int i = 1; i <= 8; ++i) points.push_back({1000 * i, static_cast<double>(i)});
  points.push_back({10000, 15.0});
  points.push_back({30000, 20.0});
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(40000, points), 40000), 10000);

  // At exactly half of the maximum the earlier peak is not preferred.
  points[8].second = 10.0;
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(40000, points), 40000), 30000);
}

TEST(PickOnsetLag, EarlierPeakMustLieMoreThan12288SamplesBefore) {
  std::vector<std::pair<int, double>> points;
  for (int i = 1; i <= 8; ++i) points.push_back({100 * i, static_cast<double>(i)});
  points.push_back({10000, 15.0});
  points.push_back({22288, 20.0});  // exactly 12288 after the earlier peak
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(40000, points), 40000), 22288);
  points[9].first = 22289;
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(40000, points), 40000), 10000);
}

TEST(PickOnsetLag, FewerThanTenRaisesAfterLagZeroFindNothing) {
  std::vector<std::pair<int, double>> nine;
  for (int i = 1; i <= 9; ++i) nine.push_back({500 * i, static_cast<double>(i)});
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(8000, nine), 8000), -1);
  // A raise at lag 0 counts, but it is lag 0 that then stays in the history.
  nine.push_back({0, 0.5});
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(8000, nine), 8000), -1);
  // Ten raises after lag 0 push lag 0 out.
  nine.push_back({6000, 10.0});
  EXPECT_EQ(dravik::pick_onset_lag(magnitudes(8000, nine), 8000), 6000);
}

TEST(PickOnsetLag, TiesKeepTheEarlierLagAndTheLastLagIsNotExamined) {
  std::vector<std::pair<int, double>> points;
  for (int i = 1; i <= 9; ++i) points.push_back({10 * i, static_cast<double>(i)});
  points.push_back({200, 50.0});
  points.push_back({300, 50.0});
  points.push_back({999, 80.0});
  std::vector<double> m = magnitudes(1000, points);
  EXPECT_EQ(dravik::pick_onset_lag(m, 1000), 999);
  EXPECT_EQ(dravik::pick_onset_lag(m, 999), 200);
}

TEST(SearchStartOffset, FindsTheOnsetOfATspInNoise) {
  // Periods of a TSP start at sample 9000 of the region after noise that
  // fades in, so the running maximum of the correlation is raised many
  // times before the onset; the correlation peaks at lag 9000 and every
  // later period repeats that peak, and the earliest strong one is chosen.
  const int n = 4096;
  std::vector<double> tsp = dravik_test::make_tsp(n, 1.0);
  std::vector<double> region(30000, 0.0);
  unsigned state = 12345;
  for (int t = 0; t < 30000; ++t) {
    state = state * 1103515245u + 12345u;
    double uniform = (static_cast<int>((state >> 8) % 2001) - 1000) / 1000.0;
    region[t] = 1e-3 * std::min(t, 9000) / 9000.0 * uniform;
  }
  for (int t = 9000; t < 30000; ++t) region[t] += tsp[(t - 9000) % n];
  dravik::FftCache ffts;
  int suggestion = dravik::search_start_offset(ffts, region.data(), 30000, tsp, 500);
  EXPECT_EQ(suggestion, 500 + 9000 - 50);
}

TEST(SearchStartOffset, SilenceFindsNothing) {
  std::vector<double> tsp = dravik_test::make_tsp(4096, 1.0);
  std::vector<double> region(10000, 0.0);
  dravik::FftCache ffts;
  EXPECT_EQ(dravik::search_start_offset(ffts, region.data(), 10000, tsp, 700), 0);
}

}  // namespace
