// A shoebox room by the image-source method: every reflection of the walls
// up to an order is a delayed, attenuated copy of the direct sound.
#ifndef VESK_TOOLS_ROOMTORESPONSE_H
#define VESK_TOOLS_ROOMTORESPONSE_H

#include <array>
#include <vector>

#include "GeometryToResponse.h"

namespace vesktools {

// Pressure reflection coefficient of all six walls of a room of `size`
// metres for a reverberation time of `rt60_s` seconds. Sabine's absorption
// alpha = 24 ln(10) V / (c S T) must stay at most 1 (ToolError naming the
// shortest possible time otherwise); the coefficient beta = exp(-K / T) then
// gives the image sources' own expected decay, averaged over directions
// (energy after a path of length ct falls as beta^(2 ct sum_i |u_i| / L_i)),
// a T20 of exactly T. (beta = sqrt(1 - alpha) would give a perfect shoebox
// a longer time than T: paths along its axes meet few walls.)
double Rt60ToReflection(const Point3& size, double rt60_s, double speed_of_sound_mps);

// The shortest reverberation time Sabine's formula allows in the room
// (alpha = 1), seconds.
double ShortestRt60(const Point3& size, double speed_of_sound_mps);

// Source and microphone at array coordinates (metres), placed in the room by
// settings.room (array_at, array_yaw_deg). response[n] = the high-passed sum
// over the images of order 0 .. max_order (all that reach the response when
// max_order < 0) of beta-product / distance times a windowed sinc at
// latency + distance fs / c: the full filter of settings.delay_filter up to
// order kFullFilterOrder, a tabulated one of half-width kShortHalfWidth
// beyond; with a sphere, images up to scatter_order go through the sphere's
// scattering from their own position, later ones reach the microphone's
// position in free field. Taps beyond the end are cut. The high-pass
// (second-order Butterworth at kHighPassHz) removes the static pressure that
// the ever denser positive images build up, as Allen and Berkley do. Throws
// ToolError as GeometryToResponse does for the direct sound.
std::vector<double> RoomToResponse(const Point3& source, const Point3& mic, const ResponseSettings& settings);

// Images of a point at array coordinates (order, beta-product and room
// position), for tests and counts.
struct RoomImage {
  int order = 0;
  double gain = 1.0;  // product of the reflection coefficients met
  Point3 position;    // metres, room coordinates
};
std::vector<RoomImage> RoomImages(const Point3& source, const Point3& mic, const ResponseSettings& settings);

// Array coordinates to room coordinates.
Point3 ArrayToRoom(const Point3& p, const RoomSettings& room);

// The high-pass applied to every room response, in place.
void HighPassRoomResponse(std::vector<double>& response, double sampling_hz);

constexpr int kFullFilterOrder = 3;
constexpr int kShortHalfWidth = 16;  // samples
constexpr double kHighPassHz = 20.0;

}  // namespace vesktools

#endif
