#include "MeasurementToTargets.h"

#include <cmath>
#include <algorithm>
#include <memory>
#include <sstream>

#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>

#include "DirectionsToWeights.h"
#include "NeighboursToSpectrum.h"
#include "ToolError.h"
#include "base/Constants.h"
#include "base/Cores.h"

namespace vesktools {
namespace vgtf = veskio2::vesk::vgtf;

void CheckFiniteMeasurement(const TfMeasurement& tf) {
  if (tf.NumMics() == 0) throw ToolError(tf.path + ": the file holds no microphone");
  for (std::size_t src = 0; src < tf.NumSources(); ++src)
    for (std::size_t mic = 0; mic < tf.NumMics(); ++mic) {
      const auto& row = tf.Spectrum(src, mic);
      for (std::size_t j = 0; j < row.size(); ++j)
        if (!std::isfinite(row[j].real()) || !std::isfinite(row[j].imag()))
          throw ToolError(tf.path + ": source " + std::to_string(src) + ", microphone " + std::to_string(mic) +
                          " holds a value that is not finite (bin " + std::to_string(tf.binIndex[j]) +
                          "): interpolation needs finite responses");
    }
}

namespace {

std::string DescribeTarget(std::size_t index, const veskio2::Vector3<float>& p) {
  const double r = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
  std::ostringstream text;
  text << "target " << index << " at (" << p.x << ", " << p.y << ", " << p.z << ") m (azimuth "
       << std::atan2(double(p.y), double(p.x)) * 180.0 / vesk::kPi << " deg, elevation "
       << std::asin(std::clamp(double(p.z) / r, -1.0, 1.0)) * 180.0 / vesk::kPi << " deg)";
  return text.str();
}

}  // namespace

boost::shared_ptr<veskio2::vesk::VeskFile> MeasurementToTargets(TfMeasurement& tf,
                                                                const std::vector<veskio2::Vector3<float>>& targets,
                                                                const InterpolationSettings& settings,
                                                                InterpolationCounts& counts) {
  CheckFiniteMeasurement(tf);
  const DirectionGrid grid(tf.sourcePositions);
  counts.grid = grid.Describe();
  const std::size_t numTargets = targets.size(), numMics = tf.NumMics(), numBins = tf.binIndex.size();

  std::vector<Neighbours> weights(numTargets);
  std::vector<char> located(numTargets, 0);
  vesk::OverCores(numTargets, [&](std::size_t first, std::size_t last) {
    for (std::size_t t = first; t < last; ++t) {
      const veskio2::Vector3<float>& p = targets[t];
      const Vec3d v(p.x, p.y, p.z);
      const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
      located[t] = grid.Locate(v / length, weights[t], kNoDirection, settings.extrapolateNearest);
    }
  });
  for (std::size_t t = 0; t < numTargets; ++t) {
    if (!located[t])
      throw ToolError(DescribeTarget(t, targets[t]) + " lies outside the measured " + counts.grid +
                      "; give --extrapolate nearest to take the nearest measured direction there");
    counts.measured += weights[t].exact;
    counts.extrapolated += weights[t].extrapolated;
    counts.interpolated += weights[t].count > 1;
  }

  const bool gtf = tf.gtf != nullptr;
  vgtf::TF3 out3;
  vgtf::TF4 out4;
  if (gtf)
    out3.resize(numTargets);
  else
    out4.resize(numTargets, vgtf::TF3(1));
  const auto row = [&](std::size_t t) -> std::vector<std::vector<vgtf::Complex>>& {
    return gtf ? out3[t] : out4[t][0];
  };
  // Single directions first: their bytes are copied before the measured
  // spectra are aligned in place.
  vesk::OverCores(numTargets, [&](std::size_t first, std::size_t last) {
    for (std::size_t t = first; t < last; ++t) {
      auto& mics = row(t);
      mics.resize(numMics);
      if (weights[t].count != 1) {
        for (auto& bins : mics) bins.resize(numBins);
        continue;
      }
      for (std::size_t mic = 0; mic < numMics; ++mic) mics[mic] = tf.Spectrum(grid.Source(weights[t].dir[0]), mic);
    }
  });
  const bool aligns = settings.method == Method::DELAY_ALIGNED || settings.method == Method::COMPLEX_ALIGNED;
  DirectionDelays delays;
  std::unique_ptr<AlignedSpectra> aligned;
  if (aligns && counts.interpolated > 0) {
    delays = MeasurementToDelaysByDirection(tf, grid);
    aligned = std::make_unique<AlignedSpectra>(tf, grid, delays, settings.method, true);
  }
  vesk::OverCores(
      numTargets,
      [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t) {
          if (weights[t].count == 1) continue;
          auto& mics = row(t);
          for (std::size_t mic = 0; mic < numMics; ++mic)
            NeighboursToSpectrum(tf, grid, delays, aligned.get(), settings.method, weights[t], mic, mics[mic].data());
        }
      },
      16);

  auto file = boost::make_shared<veskio2::vesk::VeskFile>();
  boost::shared_ptr<vgtf::Fmt1_0> inFmt;
  boost::shared_ptr<vgtf::Spec1_0> inSpec;
  for (const auto& set : tf.file->GetDataSets()) {
    if (auto f = boost::dynamic_pointer_cast<vgtf::Fmt1_0>(set)) inFmt = f;
    if (auto s = boost::dynamic_pointer_cast<vgtf::Spec1_0>(set)) inSpec = s;
  }
  file->AddDataSet(boost::make_shared<vgtf::Fmt1_0>(*inFmt));
  if (gtf) {
    const auto& inGtf = *boost::dynamic_pointer_cast<vgtf::GTF1_0>(
        *std::find_if(tf.file->GetDataSets().begin(), tf.file->GetDataSets().end(),
                      [](const auto& s) { return boost::dynamic_pointer_cast<vgtf::GTF1_0>(s) != nullptr; }));
    auto set = boost::make_shared<vgtf::GTF1_0>();
    set->SetSourceCount(static_cast<int32_t>(numTargets));
    set->SetPositions(targets);
    set->SetBinCount(static_cast<int32_t>(numBins));
    set->SetBinIndices(inGtf.GetBinIndices());
    set->SetTf(std::move(out3));
    file->AddDataSet(set);
  } else {
    auto set = boost::make_shared<vgtf::M2PG1_0>();
    set->SetSourceCount(static_cast<int32_t>(numTargets));
    set->SetInnerCount(1);
    std::vector<std::vector<veskio2::Vector3<float>>> positions;
    positions.reserve(numTargets);
    for (const auto& p : targets) positions.push_back({p});
    set->SetPositions(std::move(positions));
    set->SetTf(std::move(out4));
    file->AddDataSet(set);
  }
  auto spec = inSpec ? boost::make_shared<vgtf::Spec1_0>(*inSpec) : boost::make_shared<vgtf::Spec1_0>();
  std::ostringstream note;
  if (inSpec && inSpec->HasNote() && !inSpec->GetNote().empty()) note << inSpec->GetNote().raw() << "; ";
  note << "interpolated by tfinterp (" << MethodName(settings.method) << ") from "
       << (Glib::ustring(tf.path).validate() ? tf.path : std::string("a file")) << ", " << counts.grid;
  spec->SetNote(note.str());
  file->AddDataSet(spec);
  return file;
}

}  // namespace vesktools
