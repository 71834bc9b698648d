// The position grid: azimuth × elevation (sphere) or azimuth × height
// (cylinder), read from the command line.
#ifndef TRELVIX_TEMPLATE_GRIDPARAMETERS_H
#define TRELVIX_TEMPLATE_GRIDPARAMETERS_H

#include <cstdint>

#include <boost/program_options/variables_map.hpp>

#include "veskio2/Common.h"

namespace trelvix {

// One axis stepped with wrap-around into [lower, upper).
struct AxisCounter {
  uint64_t index = 0;
  int32_t wrap = 0;
  double from = 0, interval = 0, lower = 0, upper = 0;

  AxisCounter() = default;
  AxisCounter(double from_, double interval_, double lower_, double upper_)
      : from(from_), interval(interval_), lower(lower_), upper(upper_) {}
  // from + index × interval − (upper − lower) × wrap
  double Value() const;
  // Advances one step; wraps by at most one period per step.
  void Next();
  void Reset();
};

struct GridParameters {
  unsigned int num_mic = 0;
  unsigned int num_azi = 0;
  unsigned int num_height = 0;
  unsigned int num_elv = 0;
  unsigned int cut_start = 0;
  unsigned int cut_end = 0;
  double azi_from = 0, azi_int = 0;        // degrees
  double height_from = 0, height_int = 0;  // metres
  double elv_from = 0, elv_int = 0;        // degrees
  double radius = 0;                       // metres
  bool use_height = true;
  unsigned int num_vertical = 0;
  AxisCounter azimuth;    // degrees, [0, 360)
  AxisCounter height;     // metres, [-10000, 10000)
  AxisCounter elevation;  // degrees, [0, 360)
};

// Reads the grid options (all have defaults) and picks the vertical axis from
// which of them were given; checks no value. Throws boost::bad_any_cast only
// if vm was not parsed with trelvix's option table.
GridParameters ReadGridParameters(const boost::program_options::variables_map& vm);

// Azimuth and elevation in degrees, height and radius in metres.
// Throws std::range_error "length of given vector is zero" in height mode
// for the zero vector.
veskio2::Position<float> MakePosition(bool use_height, double azimuth, double height, double elevation, double radius);

}  // namespace trelvix

#endif
