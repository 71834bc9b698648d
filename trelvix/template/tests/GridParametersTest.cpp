#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "front/CommandLine.h"
#include "template/GridParameters.h"

using trelvix::AxisCounter;
using trelvix::GridParameters;
using trelvix::MakePosition;

namespace {

GridParameters Grid(std::vector<const char*> args) {
  args.insert(args.begin(), "trelvix");
  const trelvix::OptionTable table;
  boost::program_options::variables_map vm;
  trelvix::ParseCommandLine(table, static_cast<int>(args.size()), args.data(), vm);
  return trelvix::ReadGridParameters(vm);
}

std::vector<double> Walk(AxisCounter axis, int steps) {
  std::vector<double> values;
  for (int i = 0; i < steps; ++i, axis.Next()) values.push_back(axis.Value());
  return values;
}

// Directions are single-precision unit vectors made from double-precision
// sines and cosines: a few float ulps (1e-6) is all the error there can be.
constexpr float kUnitTolerance = 1e-6f;

void ExpectDirection(const veskio2::Position<float>& p, double x, double y, double z) {
  EXPECT_NEAR(x, p.GetDirection().x, kUnitTolerance);
  EXPECT_NEAR(y, p.GetDirection().y, kUnitTolerance);
  EXPECT_NEAR(z, p.GetDirection().z, kUnitTolerance);
}

constexpr double kDeg = 3.14159265358979323846 / 180;

}  // namespace

TEST(GridParameters, DefaultsGiveOneRingOnACylinder) {
  const GridParameters g = Grid({});
  EXPECT_TRUE(g.use_height);
  EXPECT_EQ(1u, g.num_vertical);
  EXPECT_EQ(72u, g.num_azi);
  EXPECT_EQ(8u, g.num_mic);
  EXPECT_EQ(1u, g.cut_start);
  EXPECT_EQ(0u, g.cut_end);
  EXPECT_EQ(1.0, g.radius);
  EXPECT_EQ(std::vector<double>({0, 5, 10}), Walk(g.azimuth, 3));
  EXPECT_EQ(0.01, g.height.interval);
  EXPECT_EQ(-10000, g.height.lower);
  EXPECT_EQ(10000, g.height.upper);
  EXPECT_EQ(360, g.elevation.upper);
}

TEST(GridParameters, VerticalAxisFollowsWhatWasGiven) {
  const GridParameters elv = Grid({"--numelv", "3"});
  EXPECT_FALSE(elv.use_height);
  EXPECT_EQ(3u, elv.num_vertical);
  EXPECT_EQ(std::vector<double>({0, 5, 10}), Walk(elv.elevation, 3));

  const GridParameters heightWins = Grid({"--numelv", "3", "--heightint", "0.1"});
  EXPECT_TRUE(heightWins.use_height);
  EXPECT_EQ(1u, heightWins.num_vertical);

  EXPECT_FALSE(Grid({"--elvint", "10"}).use_height);
  EXPECT_TRUE(Grid({"--elvfrom=-30", "--numheight", "1"}).use_height);
  EXPECT_TRUE(Grid({"--heightfrom", "1", "--elvfrom", "3", "--numelv", "4"}).use_height);
  // Giving the default value still counts as given.
  EXPECT_FALSE(Grid({"--numelv", "1"}).use_height);
  EXPECT_EQ(0u, Grid({"--numheight", "0"}).num_vertical);
  EXPECT_EQ(0u, Grid({"--numelv", "0"}).num_vertical);
}

TEST(AxisCounter, WrapsOncePerStep) {
  EXPECT_EQ(std::vector<double>({350, 355, 0, 5}), Walk(AxisCounter(350, 5, 0, 360), 4));
  EXPECT_EQ(std::vector<double>({-90, 275, 280}), Walk(AxisCounter(-90, 5, 0, 360), 3));
  EXPECT_EQ(std::vector<double>({-30, 340, 350, 0, 10}), Walk(AxisCounter(-30, 10, 0, 360), 5));
  EXPECT_EQ(std::vector<double>({10, 355, 340}), Walk(AxisCounter(10, -15, 0, 360), 3));
  // A step longer than the period cannot be brought back by one wrap.
  EXPECT_EQ(std::vector<double>({0, 440, 880}), Walk(AxisCounter(0, 800, 0, 360), 3));
  // 72 steps of 5 degrees come back to the start exactly.
  AxisCounter azimuth(0, 5, 0, 360);
  for (int i = 0; i < 72; ++i) azimuth.Next();
  EXPECT_EQ(0, azimuth.Value());
  EXPECT_EQ(72u, azimuth.index);
  EXPECT_EQ(1, azimuth.wrap);
  azimuth.Reset();
  EXPECT_EQ(0u, azimuth.index);
  EXPECT_EQ(0, azimuth.wrap);
}

TEST(MakePosition, CylinderPositions) {
  const auto east = MakePosition(true, 90, 0, 0, 2);
  ExpectDirection(east, 0, 1, 0);
  EXPECT_FLOAT_EQ(2, east.GetDistance());
  // 3-4-5 triangle: the distance includes the height.
  const auto raised = MakePosition(true, 0, 4, 0, 3);
  ExpectDirection(raised, 0.6, 0, 0.8);
  EXPECT_FLOAT_EQ(5, raised.GetDistance());
  // Elevation is ignored on a cylinder.
  ExpectDirection(MakePosition(true, 180, 0, 45, 1), -1, 0, 0);
  try {
    MakePosition(true, 30, 0, 0, 0);
    FAIL() << "zero vector accepted";
  } catch (const std::range_error& e) {
    EXPECT_STREQ("length of given vector is zero", e.what());
  }
}

TEST(MakePosition, SpherePositions) {
  const auto pole = MakePosition(false, 0, 0, 90, 2);
  ExpectDirection(pole, 0, 0, 1);
  EXPECT_FLOAT_EQ(2, pole.GetDistance());
  const auto p = MakePosition(false, 30, 5, 20, 1.5);
  ExpectDirection(p, std::cos(30 * kDeg) * std::cos(20 * kDeg), std::sin(30 * kDeg) * std::cos(20 * kDeg),
                  std::sin(20 * kDeg));
  EXPECT_FLOAT_EQ(1.5, p.GetDistance());
  // Past the pole the azimuth turns round; the direction is the usual one.
  const auto over = MakePosition(false, 30, 0, 120, 1);
  ExpectDirection(over, std::cos(30 * kDeg) * std::cos(120 * kDeg), std::sin(30 * kDeg) * std::cos(120 * kDeg),
                  std::sin(120 * kDeg));
  // No check of the radius on a sphere.
  EXPECT_EQ(0, MakePosition(false, 0, 0, 0, 0).GetDistance());
  EXPECT_FLOAT_EQ(-2, MakePosition(false, 0, 0, 0, -2).GetDistance());
}
