#include "tf/JobToWarnings.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <boost/format.hpp>

namespace trelvix {

namespace {

using veskio2::Vector3;
using veskio2::veskconfig::Source2;

// An array wider than this is taken for a unit mistake (metres).
constexpr double kLargestPlausibleArrayMetres = 2.0;

double Distance(const Vector3<float>& a, const Vector3<float>& b) {
  const double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

const std::vector<Source2>* SourcesOf(const TFJob& job) {
  namespace vc = veskio2::veskconfig;
  if (const auto* ir = dynamic_cast<const vc::ImpulseResponseListFile2_0*>(job.list.get()))
    return ir->HasSources() ? &ir->GetSources() : nullptr;
  if (const auto* tsp = dynamic_cast<const vc::TSPListFile2_0*>(job.list.get()))
    return tsp->HasSources() ? &tsp->GetSources() : nullptr;
  return nullptr;
}

// Source positions, Cartesian (metres); an unset one is passed over.
std::vector<std::pair<std::size_t, Vector3<float>>> SourcePoints(const std::vector<Source2>& sources) {
  std::vector<std::pair<std::size_t, Vector3<float>>> points;
  for (std::size_t src = 0; src < sources.size(); ++src)
    if (sources[src].HasPosition()) points.emplace_back(src, sources[src].GetPosition().ToCartesian());
  return points;
}

void WarnSharedNames(const TFJob& job, const std::vector<Source2>& sources, std::ostream& err) {
  struct FirstUse {
    std::size_t src;
    bool shared = false;
  };
  std::map<std::string, FirstUse> names;
  std::size_t sharedNames = 0;
  std::string first;
  for (std::size_t src = 0; src < sources.size(); ++src) {
    const Source2& source = sources[src];
    if (!source.HasFiles() || !source.HasPosition()) continue;
    const Vector3<float> here = source.GetPosition().ToCartesian();
    for (const auto& file : source.GetFiles()) {
      if (!file.HasName()) continue;
      const std::string name = file.GetName().raw();
      const auto found = names.emplace(name, FirstUse{src});
      if (found.second) continue;
      FirstUse& use = found.first->second;
      if (use.src == src || use.shared) continue;
      const Source2& other = sources[use.src];
      if (Distance(other.GetPosition().ToCartesian(), here) == 0) continue;  // one place measured once
      use.shared = true;
      if (sharedNames++ == 0)
        first = (boost::format("source %d and source %d lie at different positions but both name %s") % use.src % src %
                 name)
                    .str();
    }
  }
  if (sharedNames == 0) return;
  err << "warning: " << job.ListPath() << ": " << first << " (" << sharedNames
      << (sharedNames == 1 ? " name is" : " names are")
      << " shared by different positions): one file cannot hold two measurements; give the template a --filepath "
         "with {ELEVATION:%d} or {HEIGHT:%d}"
      << std::endl;
}

void WarnSizes(const TFJob& job, const std::vector<Source2>* sources, std::ostream& err) {
  if (!job.micArray || !job.micArray->HasMics()) return;
  std::vector<Vector3<float>> mics;
  for (const auto& mic : job.micArray->GetMics())
    if (mic.HasPosition()) mics.push_back(mic.GetPosition().ToCartesian());
  if (mics.empty()) return;
  double across = 0;
  for (std::size_t a = 0; a < mics.size(); ++a)
    for (std::size_t b = a + 1; b < mics.size(); ++b) across = std::max(across, Distance(mics[a], mics[b]));
  Vector3<float> centre(0, 0, 0);
  for (const auto& p : mics) centre = centre + p;
  centre = centre / static_cast<float>(mics.size());
  double radius = 0;
  for (const auto& p : mics) radius = std::max(radius, Distance(p, centre));
  if (across > kLargestPlausibleArrayMetres) {
    err << boost::format(
               "warning: %s: the array is %.2f m across (%d microphones, up to %.2f m from their centre); "
               "positions are read in metres: were they written in centimetres?") %
               job.param.mic_array_location_file % across % mics.size() % radius
        << std::endl;
  }
  if (!sources || radius == 0) return;
  std::size_t inside = 0, firstSrc = 0;
  double firstDistance = 0;
  for (const auto& point : SourcePoints(*sources)) {
    const double d = Distance(point.second, centre);
    if (d < radius && inside++ == 0) {
      firstSrc = point.first;
      firstDistance = d;
    }
  }
  if (inside == 0) return;
  err << boost::format(
             "warning: %s: %d of %d sources lie inside the array's radius of %.2f m (source %d at %.2f m "
             "from the array's centre); sources belong outside the array: check the units of both files") %
             job.ListPath() % inside % sources->size() % radius % firstSrc % firstDistance
      << std::endl;
}

}  // namespace

void WarnAboutJob(const TFJob& job, std::ostream& err) {
  try {
    const std::vector<Source2>* sources = SourcesOf(job);
    if (sources && job.param.calc != 1) WarnSharedNames(job, *sources, err);
    WarnSizes(job, sources, err);
  } catch (const std::exception&) {
    // Unset or odd fields are the computation's to report.
  }
}

}  // namespace trelvix
