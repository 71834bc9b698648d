// The shoebox room: image delays and levels against the mirrored geometry,
// and the reverberation time of the simulated responses.
#include <cmath>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "DelayToFilter.h"
#include "RoomToResponse.h"
#include "ToolError.h"

using namespace vesktools;

namespace {

ResponseSettings Room(double lx, double ly, double lz, Point3 at) {
  ResponseSettings s;
  s.room.enabled = true;
  s.room.size = Point3{lx, ly, lz};
  s.room.array_at = at;
  return s;
}

double Distance(const Point3& a, const Point3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace

TEST(Room, FirstOrderReflectionsArriveAsTheMirroredSourcesGive) {
  ResponseSettings s = Room(6, 5, 3, Point3{2.1, 1.7, 1.3});
  s.room.reflection = {0.9, 0.8, 0.7, 0.6, 0.5, 0.4};
  s.room.max_order = 1;
  s.room.array_yaw_deg = 90;  // array x is room y
  const Point3 source{0.5, -1.0, 0.2}, mic{0.05, 0.0, 0.0};
  const std::vector<double> r = RoomToResponse(source, mic, s);
  // Room coordinates: the source at (3.1, 2.2, 1.5), the microphone at
  // (2.1, 1.75, 1.3); each wall mirrors the source once.
  const Point3 src{3.1, 2.2, 1.5}, m{2.1, 1.75, 1.3};
  const std::vector<std::pair<Point3, double>> images = {{src, 1.0},
                                                         {{-3.1, 2.2, 1.5}, 0.9},
                                                         {{12 - 3.1, 2.2, 1.5}, 0.8},
                                                         {{3.1, -2.2, 1.5}, 0.7},
                                                         {{3.1, 10 - 2.2, 1.5}, 0.6},
                                                         {{3.1, 2.2, -1.5}, 0.5},
                                                         {{3.1, 2.2, 6 - 1.5}, 0.4}};
  std::vector<double> expected(r.size(), 0.0);
  for (const auto& [position, beta] : images) {
    const double d = Distance(position, m);
    AddFractionalDelay(expected, s.latency_samples + d * 16000 / 343, beta / d, s.delay_filter);
  }
  HighPassRoomResponse(expected, 16000);
  // A delay off by 0.01 sample would leave about 0.03 of a tap's level; the
  // sums agree to rounding.
  for (std::size_t n = 0; n < r.size(); ++n) ASSERT_NEAR(r[n], expected[n], 1e-12) << n;
  EXPECT_EQ(RoomImages(source, mic, s).size(), 7u);
}

struct DecayCase {
  double rt60_s;
};

class RoomDecay : public ::testing::TestWithParam<DecayCase> {};

TEST_P(RoomDecay, HasTheRequestedT20) {
  ResponseSettings s = Room(6, 5, 3, Point3{3.1, 2.4, 1.5});
  s.length_samples = 16000;
  s.room.reflection.fill(Rt60ToReflection(s.room.size, GetParam().rt60_s, s.speed_of_sound_mps));
  const Point3 source{1.5 * std::cos(0.65), 1.5 * std::sin(0.65), 0.1}, mic{0.05, -0.03, 0.0};
  const std::vector<double> r = RoomToResponse(source, mic, s);
  // Schroeder's backward integration, and the line through its -5 .. -25 dB.
  std::vector<double> energy(r.size());
  double sum = 0;
  for (std::size_t n = r.size(); n-- > 0;) energy[n] = (sum += r[n] * r[n]);
  double count = 0, st = 0, sl = 0, stt = 0, stl = 0;
  for (std::size_t n = 0; n < r.size(); ++n) {
    const double level = 10 * std::log10(energy[n] / energy[0]), t = n / 16000.0;
    if (level > -5 || level < -25) continue;
    count += 1, st += t, sl += level, stt += t * t, stl += t * level;
  }
  const double t20 = -60.0 / ((count * stl - st * sl) / (count * stt - st * st));
  EXPECT_NEAR(t20, GetParam().rt60_s, 0.1 * GetParam().rt60_s);
  std::printf("T20 %g s for --rt60 %g s\n", t20, GetParam().rt60_s);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoomDecay, ::testing::Values(DecayCase{0.3}, DecayCase{0.6}));

TEST(Room, RefusesAReverberationShorterThanTheRoomAllows) {
  try {
    Rt60ToReflection(Point3{6, 5, 3}, 0.1, 343);
    FAIL() << "no error";
  } catch (const ToolError& e) {
    // 24 ln 10 / 343 * 90 / 126 = 0.115 s
    EXPECT_STREQ(
        e.what(),
        "--rt60 0.1 s is shorter than the room allows (Sabine's absorption above 1); the shortest is 0.115081 s");
  }
}
