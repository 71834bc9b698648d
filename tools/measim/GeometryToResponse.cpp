#include "GeometryToResponse.h"

#include <cmath>
#include <random>
#include <sstream>

#include "RoomToResponse.h"
#include "Rt60ToTail.h"
#include "SphereToResponse.h"
#include "ToolError.h"

namespace vesktools {
namespace {

double Distance(const Point3& a, const Point3& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

double DirectDelaySamples(const Point3& source, const Point3& mic, const ResponseSettings& settings) {
  return settings.latency_samples + Distance(source, mic) * settings.sampling_hz / settings.speed_of_sound_mps;
}

double ChannelLatencySamples(const ResponseSettings& settings, unsigned int micIndex) {
  const auto own = settings.channel_latency_samples.find(micIndex);
  return settings.latency_samples + (own == settings.channel_latency_samples.end() ? 0.0 : own->second);
}

std::vector<double> GeometryToResponse(const Point3& source, const Point3& mic, const ResponseSettings& settings,
                                       std::size_t src, unsigned int micIndex) {
  // Every model (free field, sphere, room) delays by latency_samples: the
  // channel's own latency joins it there.
  if (!settings.channel_latency_samples.empty()) {
    ResponseSettings own = settings;
    own.latency_samples = ChannelLatencySamples(settings, micIndex);
    own.channel_latency_samples.clear();
    return GeometryToResponse(source, mic, own, src, micIndex);
  }
  const double distance = Distance(source, mic);
  if (distance == 0.0) {
    std::ostringstream msg;
    msg << "source " << src << " lies on microphone " << micIndex << " (distance 0 m)";
    throw ToolError(msg.str());
  }
  if (settings.room.enabled) {
    try {
      return RoomToResponse(source, mic, settings);
    } catch (const ToolError& e) {
      std::ostringstream msg;
      msg << "source " << src << ", microphone " << micIndex << ": " << e.what();
      throw ToolError(msg.str());
    }
  }
  const double gain = 1.0 / distance;
  const double delay = DirectDelaySamples(source, mic, settings);
  std::vector<double> response(settings.length_samples, 0.0);
  try {
    if (settings.sphere_radius_m > 0)
      AddSphereResponse(response, source, mic, settings.sphere_radius_m, 1.0, settings);
    else
      AddFractionalDelay(response, delay, gain, settings.delay_filter);
  } catch (const ToolError& e) {
    std::ostringstream msg;
    msg << "source " << src << ", microphone " << micIndex << ": " << e.what();
    throw ToolError(msg.str());
  }
  if (settings.rt60_s > 0) {
    std::seed_seq seq{static_cast<uint64_t>(settings.seed), static_cast<uint64_t>(src),
                      static_cast<uint64_t>(micIndex)};
    std::mt19937_64 rng(seq);
    const auto onset = static_cast<std::size_t>(std::ceil(delay + settings.tail_gap_s * settings.sampling_hz));
    AddRoomTail(response, onset, settings.rt60_s, settings.sampling_hz,
                gain * gain * std::pow(10.0, -settings.drr_db / 10.0), rng);
  }
  return response;
}

}  // namespace vesktools
