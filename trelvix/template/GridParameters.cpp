#include "template/GridParameters.h"

#include <cmath>

#include "base/Constants.h"

namespace po = boost::program_options;

namespace trelvix {

namespace {

// Axis ranges: azimuth and elevation in degrees, height in metres.
constexpr double kAngleLower = 0, kAngleUpper = 360;
constexpr double kHeightLower = -10000, kHeightUpper = 10000;

}  // namespace

double AxisCounter::Value() const {
  return from + static_cast<double>(index) * interval - (upper - lower) * static_cast<double>(wrap);
}

void AxisCounter::Next() {
  ++index;
  const double value = Value();
  if (value >= upper)
    ++wrap;
  else if (value < lower)
    --wrap;
}

void AxisCounter::Reset() {
  index = 0;
  wrap = 0;
}

GridParameters ReadGridParameters(const po::variables_map& vm) {
  GridParameters g;
  g.num_mic = vm["nummic"].as<unsigned int>();
  g.num_azi = vm["numazi"].as<unsigned int>();
  g.num_height = vm["numheight"].as<unsigned int>();
  g.num_elv = vm["numelv"].as<unsigned int>();
  g.cut_start = vm["cut-start"].as<unsigned int>();
  g.cut_end = vm["cut-end"].as<unsigned int>();
  g.azi_from = vm["azifrom"].as<double>();
  g.azi_int = vm["aziint"].as<double>();
  g.height_from = vm["heightfrom"].as<double>();
  g.height_int = vm["heightint"].as<double>();
  g.elv_from = vm["elvfrom"].as<double>();
  g.elv_int = vm["elvint"].as<double>();
  g.radius = vm["radius"].as<double>();

  // A height option wins; elevation options count only without one; with
  // neither, numelv alone selects elevation.
  const auto given = [&vm](const char* name) { return !vm[name].defaulted(); };
  if (given("heightfrom") || given("heightint") || given("numheight"))
    g.use_height = true;
  else if (given("elvfrom") || given("elvint"))
    g.use_height = false;
  else
    g.use_height = !given("numelv");

  g.num_vertical = g.use_height ? g.num_height : g.num_elv;
  g.azimuth = AxisCounter(g.azi_from, g.azi_int, kAngleLower, kAngleUpper);
  g.height = AxisCounter(g.height_from, g.height_int, kHeightLower, kHeightUpper);
  g.elevation = AxisCounter(g.elv_from, g.elv_int, kAngleLower, kAngleUpper);
  return g;
}

veskio2::Position<float> MakePosition(bool use_height, double azimuth, double height, double elevation, double radius) {
  const double a = azimuth * vesk::kPi / 180;
  if (use_height) {
    // Cylinder: the distance becomes sqrt(radius² + height²).
    const veskio2::Vector3<float> v(static_cast<float>(std::cos(a) * radius), static_cast<float>(std::sin(a) * radius),
                                    static_cast<float>(height));
    return veskio2::MakePositionFromVector(v);
  }
  // Sphere: direction from the angles, distance the radius as given.
  const float e = static_cast<float>(elevation * vesk::kPi / 180);
  const float sin_e = std::sin(e);
  float cos_e = std::cos(e);
  const float r = static_cast<float>(radius);
  float a_f = static_cast<float>(a);
  if (cos_e < 0) {
    // Past the pole: keep cos e non-negative by turning the azimuth round.
    cos_e = -cos_e;
    a_f = static_cast<float>(static_cast<double>(a_f) + vesk::kPi);
  }
  const double a_d = a_f;
  const veskio2::Vector3<float> direction(static_cast<float>(std::cos(a_d) * cos_e),
                                          static_cast<float>(std::sin(a_d) * cos_e), sin_e);
  return veskio2::Position<float>(direction, r);
}

}  // namespace trelvix
