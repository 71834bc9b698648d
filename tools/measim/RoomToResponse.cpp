#include "RoomToResponse.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "SphereToResponse.h"
#include "ToolError.h"
#include "base/Constants.h"
#include "base/Cores.h"

namespace vesktools {
namespace {

double Volume(const Point3& s) { return s.x * s.y * s.z; }
double Surface(const Point3& s) { return 2.0 * (s.x * s.y + s.y * s.z + s.x * s.z); }
double Component(const Point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

double Distance(const Point3& a, const Point3& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// T20 (seconds) of the Schroeder curve I(t) = mean over directions u of
// exp(-gamma t) / gamma, gamma = 2 c sum_i |u_i| / L_i: the image sources'
// expected decay for -ln(beta) = 1. T20 scales as 1 / -ln(beta).
double UnitDecayT20(const Point3& size, double c) {
  constexpr int kGrid = 96;  // midpoints in cos(elevation) and azimuth over one octant
  std::vector<double> gammas;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const double mu = (i + 0.5) / kGrid, phi = (j + 0.5) / kGrid * vesk::kPi / 2, st = std::sqrt(1 - mu * mu);
      gammas.push_back(2.0 * c * (st * std::cos(phi) / size.x + st * std::sin(phi) / size.y + mu / size.z));
    }
  const auto curve = [&](double t) {
    double sum = 0;
    for (double g : gammas) sum += std::exp(-g * t) / g;
    return sum;
  };
  const double start = curve(0.0);
  double slowest = *std::min_element(gammas.begin(), gammas.end());
  // Least-squares line of the level in dB over -5 .. -25 dB, on a grid fine
  // against the fastest decay.
  const double dt = 1.0 / (*std::max_element(gammas.begin(), gammas.end()) * 50.0);
  double n = 0, st = 0, sl = 0, stt = 0, stl = 0;
  for (double t = 0; t < 30.0 / slowest; t += dt) {
    const double level = 10.0 * std::log10(curve(t) / start);
    if (level < -25.0) break;
    if (level > -5.0) continue;
    n += 1;
    st += t;
    sl += level;
    stt += t * t;
    stl += t * level;
  }
  const double slope = (n * stl - st * sl) / (n * stt - st * st);  // dB per second
  return -60.0 / slope;
}

}  // namespace

double ShortestRt60(const Point3& size, double c) { return 24.0 * std::log(10.0) / c * Volume(size) / Surface(size); }

double Rt60ToReflection(const Point3& size, double rt60_s, double c) {
  const double shortest = ShortestRt60(size, c);
  if (!(rt60_s >= shortest) || !std::isfinite(rt60_s)) {
    std::ostringstream msg;
    msg << "--rt60 " << rt60_s << " s is shorter than the room allows (Sabine's absorption above 1); the shortest is "
        << shortest << " s";
    throw ToolError(msg.str());
  }
  return std::exp(-UnitDecayT20(size, c) / rt60_s);
}

Point3 ArrayToRoom(const Point3& p, const RoomSettings& room) {
  const double yaw = room.array_yaw_deg * vesk::kPi / 180.0;
  return Point3{room.array_at.x + p.x * std::cos(yaw) - p.y * std::sin(yaw),
                room.array_at.y + p.x * std::sin(yaw) + p.y * std::cos(yaw), room.array_at.z + p.z};
}

std::vector<RoomImage> RoomImages(const Point3& source, const Point3& mic, const ResponseSettings& settings) {
  const RoomSettings& room = settings.room;
  const Point3 s = ArrayToRoom(source, room), m = ArrayToRoom(mic, room);
  const double fs = settings.sampling_hz, c = settings.speed_of_sound_mps;
  // Farthest image whose taps still reach the response, metres.
  const double reach = (static_cast<double>(settings.length_samples) + settings.delay_filter.half_width_samples -
                        settings.latency_samples) *
                       c / fs;
  std::vector<RoomImage> images;
  if (!(reach > 0)) return images;
  // Per axis: coordinate, order and gain of each image of the source.
  struct Axial {
    double coordinate;
    int order;
    double gain;
  };
  std::array<std::vector<Axial>, 3> axes;
  for (int axis = 0; axis < 3; ++axis) {
    const double length = Component(room.size, axis), x = Component(s, axis), xm = Component(m, axis);
    const double b0 = room.reflection[2 * axis], b1 = room.reflection[2 * axis + 1];
    for (int p = 0; p < 2; ++p) {
      const double base = (1 - 2 * p) * x;
      const auto lo = static_cast<long>(std::floor((xm - reach - base) / (2 * length)));
      const auto hi = static_cast<long>(std::ceil((xm + reach - base) / (2 * length)));
      for (long k = lo; k <= hi; ++k) {
        const long n0 = std::labs(k - p), n1 = std::labs(k);  // reflections off the walls at 0 and at length
        const double coordinate = base + 2.0 * static_cast<double>(k) * length;
        if (std::fabs(coordinate - xm) > reach) continue;
        axes[axis].push_back(Axial{coordinate, static_cast<int>(n0 + n1),
                                   std::pow(b0, static_cast<double>(n0)) * std::pow(b1, static_cast<double>(n1))});
      }
    }
  }
  for (const Axial& ix : axes[0])
    for (const Axial& iy : axes[1])
      for (const Axial& iz : axes[2]) {
        const int order = ix.order + iy.order + iz.order;
        if (room.max_order >= 0 && order > room.max_order) continue;
        const Point3 position{ix.coordinate, iy.coordinate, iz.coordinate};
        if (Distance(position, m) > reach) continue;
        images.push_back(RoomImage{order, ix.gain * iy.gain * iz.gain, position});
      }
  return images;
}

void HighPassRoomResponse(std::vector<double>& response, double sampling_hz) {
  // Bilinear-transform Butterworth, K = tan(pi fc / fs).
  const double k = std::tan(vesk::kPi * kHighPassHz / sampling_hz), norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
  const double b0 = norm, b1 = -2.0 * norm, b2 = norm;
  const double a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (double& v : response) {
    const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = v;
    y2 = y1;
    y1 = y;
    v = y;
  }
}

std::vector<double> RoomToResponse(const Point3& source, const Point3& mic, const ResponseSettings& settings) {
  const RoomSettings& room = settings.room;
  const std::vector<RoomImage> images = RoomImages(source, mic, settings);
  const Point3 m = ArrayToRoom(mic, room), centre = room.array_at;
  const double fs = settings.sampling_hz, c = settings.speed_of_sound_mps;
  const bool sphere = settings.sphere_radius_m > 0;
  const std::size_t length = settings.length_samples;
  std::vector<double> response(length, 0.0);
  // The direct sound exactly as without a room (and refused where it is).
  const Point3 micDirection{m.x - centre.x, m.y - centre.y, m.z - centre.z};
  for (const RoomImage& image : images) {
    if (image.order != 0) continue;
    if (sphere) {
      const Point3 s{image.position.x - centre.x, image.position.y - centre.y, image.position.z - centre.z};
      AddSphereResponse(response, s, micDirection, settings.sphere_radius_m, 1.0, settings);
    } else {
      const double d = Distance(image.position, m);
      if (d == 0.0) throw ToolError("the source lies on the microphone (distance 0 m)");
      AddFractionalDelay(response, settings.latency_samples + d * fs / c, 1.0 / d, settings.delay_filter);
    }
  }
  // Scattered images one by one (each plans its own transform); the others
  // in a fixed number of slices, summed in order, so that the result does not
  // depend on the number of cores.
  for (const RoomImage& image : images) {
    if (image.order == 0 || !sphere || image.order > room.scatter_order) continue;
    const Point3 s{image.position.x - centre.x, image.position.y - centre.y, image.position.z - centre.z};
    AddSphereResponse(response, s, micDirection, settings.sphere_radius_m, image.gain, settings, true);
  }
  const TabulatedDelayFilter shortFilter(kShortHalfWidth, settings.delay_filter.kaiser_beta);
  constexpr std::size_t kSlices = 16;
  std::vector<std::vector<double>> parts(kSlices);
  vesk::OverCores(
      kSlices,
      [&](std::size_t first, std::size_t last) {
        for (std::size_t slice = first; slice < last; ++slice) {
          std::vector<double>& part = parts[slice];
          part.assign(length, 0.0);
          for (std::size_t i = images.size() * slice / kSlices; i < images.size() * (slice + 1) / kSlices; ++i) {
            const RoomImage& image = images[i];
            if (image.order == 0 || (sphere && image.order <= room.scatter_order)) continue;
            const double d = Distance(image.position, m);
            const double delay = settings.latency_samples + d * fs / c;
            if (image.order <= kFullFilterOrder)
              AddFractionalDelayCut(part, delay, image.gain / d, settings.delay_filter);
            else
              shortFilter.Add(part, delay, image.gain / d);
          }
        }
      },
      1);
  for (const std::vector<double>& part : parts)
    for (std::size_t n = 0; n < length; ++n) response[n] += part[n];
  HighPassRoomResponse(response, fs);
  return response;
}

}  // namespace vesktools
