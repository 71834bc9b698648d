#include "SofaToIrList.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <boost/make_shared.hpp>

#include "FloatFile.h"
#include "HeaderToFirLayout.h"
#include "NcFile.h"
#include "PendingOutput.h"
#include "ToolError.h"
#include "base/OutputTarget.h"
#include "veskio2/VeskConfig.h"

namespace vesksofa {

using vesktools::ToolError;
namespace vc = veskio2::veskconfig;

namespace {

// Values read at once from Data.IR (doubles).
constexpr std::size_t kBlockValues = std::size_t(1) << 20;

// Direction and distance; the origin keeps a zero direction and distance 0.
// Throws ToolError naming `what` when a coordinate or the distance does not
// fit single precision.
veskio2::Position<float> PositionOf(const Vec3& p, const std::string& what) {
  const auto fits = [](double c) { return std::fabs(c) <= FLT_MAX; };  // false for NaN
  const veskio2::Vector3<float> v(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
  const double distance = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
  if (!fits(p.x) || !fits(p.y) || !fits(p.z) || !(distance <= FLT_MAX)) {
    char text[160];
    std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g) m", p.x, p.y, p.z);
    throw ToolError(what + " " + text + " does not fit single precision");
  }
  if (v.x == 0 && v.y == 0 && v.z == 0) return veskio2::Position<float>(v, 0.0f);
  return veskio2::MakePositionFromVector(v);
}

std::string FltName(std::size_t measurement, std::size_t receiver) {
  char name[64];
  std::snprintf(name, sizeof name, "src%05zu_mic%03zu.flt", measurement, receiver);
  return name;
}

void WriteXml(const std::string& path, const boost::shared_ptr<vc::VeskConfigFile>& file) {
  try {
    vesk::OutputFile out(path);
    vc::VeskConfigFileXMLWriter(out.Stream()).Write(file);
    out.Commit();
  } catch (const vesk::OutputError& e) {
    throw ToolError(e.what());
  }
}

std::vector<double> Optional(const NcFile& nc, const SofaHeader& header, const Coordinates& c) {
  return c.present ? nc.ReadAllDoubles(c.name, header) : std::vector<double>();
}

// The input as it is checked before any output exists.
struct CheckedInput {
  NcFile nc;
  FirLayout layout;
  double rate;
  std::vector<veskio2::Position<float>> receivers, sources;
};

// Calls use(measurement, receiver, taps) for every response of Data.IR in
// order, reading a block of measurements at a time, or a row at a time when
// one measurement alone is larger than a block. Every tap is checked to
// fit single precision (.flt samples); throws ToolError naming the first
// that does not.
template <typename Use>
void ForEachResponse(const NcFile& nc, const FirLayout& layout, Use use) {
  const std::size_t numMeasurements = layout.measurements, numReceivers = layout.receivers, numSamples = layout.samples;
  const std::size_t perMeasurement = numReceivers * numSamples;
  const std::size_t block = std::max<std::size_t>(1, kBlockValues / perMeasurement);
  std::vector<float> taps(numSamples);
  for (std::size_t first = 0; first < numMeasurements; first += block) {
    const std::size_t count = std::min(block, numMeasurements - first);
    for (std::size_t r0 = 0; r0 < numReceivers;) {
      const std::size_t rows = perMeasurement > kBlockValues ? 1 : numReceivers;
      const std::vector<double> values = nc.ReadDoubles("Data.IR", {first, r0, 0}, {count, rows, numSamples});
      for (std::size_t m = 0; m < count; ++m)
        for (std::size_t r = 0; r < rows; ++r) {
          const double* src = values.data() + (m * rows + r) * numSamples;
          for (std::size_t n = 0; n < numSamples; ++n) {
            if (!(std::fabs(src[n]) <= FLT_MAX)) {
              char text[160];
              std::snprintf(text, sizeof text, "Data.IR value %.9g (measurement %zu, receiver %zu, tap %zu)", src[n],
                            first + m, r0 + r, n);
              throw ToolError(nc.Path() + ": " + text + " does not fit single precision");
            }
            taps[n] = static_cast<float>(src[n]);
          }
          use(first + m, r0 + r, taps);
        }
      r0 += rows;
    }
  }
}

CheckedInput OpenChecked(const std::string& sofaPath) {
  NcFile nc = NcFile::Open(sofaPath);
  const SofaHeader header = nc.ReadHeader();
  nc.CheckClassicSize(header);
  FirLayout layout;
  double rate = 0;
  std::vector<Vec3> receivers, sources;
  try {
    layout = InterpretFirHeader(header);
    std::error_code ec;
    const auto fileBytes = std::filesystem::file_size(sofaPath, ec);
    if (!ec) CheckBelievableSize(layout, fileBytes);
    rate = CheckedSamplingRate(nc.ReadAllDoubles("Data.SamplingRate", header));
    if (layout.hasDelay) CheckZeroDelays(nc.ReadAllDoubles("Data.Delay", header), layout.receivers);
    receivers = ReceiverPositions(layout, nc.ReadAllDoubles("ReceiverPosition", header));
    sources =
        SourcePositions(layout, nc.ReadAllDoubles("SourcePosition", header), Optional(nc, header, layout.listener),
                        Optional(nc, header, layout.listenerView), Optional(nc, header, layout.listenerUp));
  } catch (const ToolError& e) {
    const std::string what = e.what();
    if (what.compare(0, sofaPath.size() + 1, sofaPath + ":") == 0) throw;
    throw ToolError(sofaPath + ": " + what);
  }
  std::vector<veskio2::Position<float>> receiverPositions, sourcePositions;
  try {
    for (std::size_t r = 0; r < receivers.size(); ++r)
      receiverPositions.push_back(PositionOf(receivers[r], "ReceiverPosition of receiver " + std::to_string(r)));
    for (std::size_t m = 0; m < sources.size(); ++m)
      sourcePositions.push_back(PositionOf(sources[m], "SourcePosition of measurement " + std::to_string(m)));
  } catch (const ToolError& e) {
    throw ToolError(sofaPath + ": " + e.what());
  }
  // Every response is read once before anything is written: a value that
  // cannot be read or kept, or a file the library fails on, is met while
  // there is nothing to remove.
  ForEachResponse(nc, layout, [](std::size_t, std::size_t, const std::vector<float>&) {});
  return CheckedInput{std::move(nc), layout, rate, std::move(receiverPositions), std::move(sourcePositions)};
}

}  // namespace

void CheckSofaInput(const std::string& sofaPath) { OpenChecked(sofaPath); }

IrListSummary ConvertSofaToIrList(const std::string& sofaPath, const std::string& outDir) {
  // The input is opened and checked in full before any output exists.
  PendingDirectory::CheckTarget(outDir);
  const CheckedInput in = OpenChecked(sofaPath);
  const FirLayout& layout = in.layout;
  const double rate = in.rate;
  PendingDirectory pending(outDir);
  const std::size_t numMeasurements = layout.measurements, numReceivers = layout.receivers, numSamples = layout.samples;

  char rateText[32];
  std::snprintf(rateText, sizeof rateText, "%.10g", rate);
  const std::string origin = "converted by sofa2vesk from " + sofaPath + " (" + layout.convention + ", " + rateText +
                             " Hz; give trelvix --sampling-freq " + rateText + ")";
  auto mic = boost::make_shared<vc::MicArrayLocationFile2_0>();
  mic->SetComment(origin);
  std::vector<vc::Mic1> mics(numReceivers);
  for (std::size_t r = 0; r < numReceivers; ++r) {
    mics[r].SetMicIndex(static_cast<unsigned int>(r));
    mics[r].SetPosition(in.receivers[r]);
  }
  mic->SetMics(std::move(mics));

  std::vector<vc::Source2> list(numMeasurements);
  for (std::size_t m = 0; m < numMeasurements; ++m) {
    vc::Source2& source = list[m];
    source.SetPosition(in.sources[m]);
    source.SetCutStart(1);
    source.SetCutEnd(0);
    std::vector<vc::File1> files(numReceivers);
    for (std::size_t r = 0; r < numReceivers; ++r) {
      files[r].SetName(FltName(m, r));
      files[r].SetMicIndices({static_cast<unsigned int>(r)});
    }
    source.SetFiles(std::move(files));
  }
  auto ir = boost::make_shared<vc::ImpulseResponseListFile2_0>();
  ir->SetComment(origin);
  ir->SetNumMic(static_cast<unsigned int>(numReceivers));
  ir->SetNumInner(1);
  ir->SetSources(std::move(list));

  try {
    ForEachResponse(in.nc, layout, [&](std::size_t m, std::size_t r, const std::vector<float>& taps) {
      vesktools::WriteFloat32LE(pending.Path() + "/" + FltName(m, r), taps);
    });
    WriteXml(pending.Path() + "/mic.xml", mic);
    WriteXml(pending.Path() + "/ir.xml", ir);
  } catch (const ToolError& e) {
    throw ToolError(pending.AsTarget(e.what()));
  }
  pending.Commit();
  return {layout.convention, numMeasurements, numReceivers, numSamples, rate};
}

}  // namespace vesksofa
