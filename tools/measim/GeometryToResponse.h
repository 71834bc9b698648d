// The simulated response from one source position to one microphone: a
// free-field fractional delay with 1/r level, optionally followed by a room
// tail.
#ifndef VESK_TOOLS_GEOMETRYTORESPONSE_H
#define VESK_TOOLS_GEOMETRYTORESPONSE_H

#include <cstddef>
#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "DelayToFilter.h"
#include "base/Constants.h"

namespace vesktools {

struct Point3 {
  double x = 0, y = 0, z = 0;  // metres
};

struct RoomSettings {
  bool enabled = false;
  Point3 size;                         // metres, walls at 0 and size on each axis
  Point3 array_at;                     // the array's origin in the room, metres
  double array_yaw_deg = 0;            // the array's turn about z
  std::array<double, 6> reflection{};  // pressure reflection of the walls x0, x1, y0, y1, z0, z1
  int max_order = -1;                  // < 0: every image that reaches the response
  int scatter_order = 2;               // images up to this order are scattered by a sphere
};

struct ResponseSettings {
  double sampling_hz = 16000.0;
  double speed_of_sound_mps = vesk::kSpeedOfSound;
  double latency_samples = 128.0;  // added to every delay so the filter is causal
  FractionalDelayDesign delay_filter;
  std::size_t length_samples = 4096;
  double rt60_s = 0.0;        // 0: free field only, no tail
  double drr_db = 6.0;        // direct-to-reverberant energy ratio of the tail
  double tail_gap_s = 0.002;  // tail starts this long after the direct sound
  uint64_t seed = 1;
  // > 0: the microphones lie on a rigid sphere of this radius (metres)
  // centred on the array's origin, and the direct sound is scattered by it.
  double sphere_radius_m = 0.0;
  RoomSettings room;  // enabled: walls by image sources instead of the tail
  // micIndex -> samples that microphone's channel lags all the others by (a
  // converter's or cable's own latency), on top of latency_samples.
  std::map<unsigned int, double> channel_latency_samples;
};

// latency_samples plus the channel latency of the microphone `micIndex`.
double ChannelLatencySamples(const ResponseSettings& settings, unsigned int micIndex);

// Distance in metres times sampling rate over speed of sound, plus latency.
double DirectDelaySamples(const Point3& source, const Point3& mic, const ResponseSettings& settings);

// response[n], n = 0..length-1: (1/r) * delayed windowed sinc at
// DirectDelaySamples (with the microphone's channel latency) (r in metres, so a source 1 m away has unit level), plus,
// when rt60_s > 0, a tail of energy (1/r)^2 * 10^(-drr/10) starting tail_gap_s
// after the direct sound. With a sphere the direct sound is the sphere's
// scattering (AddSphereResponse) instead of the delayed sinc; the tail keeps
// the free field's level and onset. In a room (settings.room.enabled) the
// response is RoomToResponse's and rt60_s means the walls. The tail's noise is seeded by (seed, src, micIndex)
// so every pair gets its own, repeatable tail. Throws ToolError when the
// source and microphone coincide or the filter does not fit.
std::vector<double> GeometryToResponse(const Point3& source, const Point3& mic, const ResponseSettings& settings,
                                       std::size_t src, unsigned int micIndex);

}  // namespace vesktools

#endif
