#include "IrListToSofa.h"

#include <netcdf.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include <boost/pointer_cast.hpp>

#include "FloatFile.h"
#include "PendingOutput.h"
#include "ToolError.h"
#include "veskio2/VeskConfig.h"

namespace vesksofa {

using vesktools::ToolError;
namespace vc = veskio2::veskconfig;

namespace {

// Samples written at once (per block of sources).
constexpr std::size_t kBlockValues = std::size_t(1) << 20;

template <typename T>
boost::shared_ptr<T> ReadConfig(const std::string& path, const std::string& id) {
  boost::shared_ptr<vc::VeskConfigFile> file;
  try {
    file = vc::VeskConfigFileXMLReader(path).Read();
  } catch (const std::exception& e) {
    throw ToolError(e.what());
  }
  if (!file || file->GetId() != id)
    throw ToolError(path + ": expected " + id + ", found " + (file ? std::string(file->GetId()) : "nothing"));
  auto typed = boost::dynamic_pointer_cast<T>(file);
  if (!typed) throw ToolError(path + ": unsupported " + id + " version " + file->GetVersion().ToString());
  return typed;
}

Vec3 ToVec3(const veskio2::Vector3<float>& v) { return {v.x, v.y, v.z}; }

}  // namespace

void ConvertIrListToSofa(const std::string& irListPath, const std::string& micPath, const std::string& sofaPath,
                         unsigned int samplingRateHz, SofaTexts texts) {
  if (samplingRateHz == 0) throw ToolError("--sampling-freq must be at least 1");
  const auto micFile = ReadConfig<vc::MicArrayLocationFile2_0>(micPath, "MicArrayLocationFile");
  const auto list = ReadConfig<vc::ImpulseResponseListFile2_0>(irListPath, "ImpulseResponseListFile");
  if (!micFile->HasMics() || micFile->GetMics().empty()) throw ToolError(micPath + ": lists no microphones");
  if (!list->HasSources() || list->GetSources().empty()) throw ToolError(irListPath + ": lists no sources");
  const auto& mics = micFile->GetMics();
  const auto& sources = list->GetSources();
  const std::size_t numMics = mics.size(), numSources = sources.size();

  std::vector<Vec3> micPositions, sourcePositions;
  std::vector<unsigned int> micIndices;
  for (std::size_t m = 0; m < numMics; ++m) {
    if (!mics[m].HasMicIndex() || !mics[m].HasPosition())
      throw ToolError(micPath + ": mic " + std::to_string(m) + " lacks its micIndex or position");
    micIndices.push_back(mics[m].GetMicIndex());
    micPositions.push_back(ToVec3(mics[m].GetPosition().ToCartesian()));
  }
  // names[src * numMics + mic]: the one file whose micIndices is exactly that microphone's.
  std::vector<std::string> names(numSources * numMics);
  for (std::size_t s = 0; s < numSources; ++s) {
    if (!sources[s].HasPosition()) throw ToolError(irListPath + ": source " + std::to_string(s) + " has no position");
    sourcePositions.push_back(ToVec3(sources[s].GetPosition().ToCartesian()));
    const std::vector<vc::File1> none;
    const auto& files = sources[s].HasFiles() ? sources[s].GetFiles() : none;
    for (std::size_t m = 0; m < numMics; ++m) {
      const auto it = std::find_if(files.begin(), files.end(), [&](const vc::File1& f) {
        return f.HasName() && f.HasMicIndices() && f.GetMicIndices().size() == 1 &&
               f.GetMicIndices()[0] == micIndices[m];
      });
      if (it == files.end())
        throw ToolError(irListPath + ": source " + std::to_string(s) + " names no file for micIndex " +
                        std::to_string(micIndices[m]));
      names[s * numMics + m] = it->GetName();
    }
  }
  const std::size_t numSamples = vesktools::ReadFloat32LE(names[0]).size();
  if (numSamples == 0) throw ToolError(names[0] + ": holds no samples");

  if (texts.title.empty()) texts.title = std::filesystem::path(irListPath).filename().string();
  PendingFile pending(sofaPath);
  NcFile nc = NcFile::Create(pending.Path(), sofaPath);
  const SofaDims dims = BeginSofa(nc, "GeneralFIR", "FIR", numSources, numMics, numSamples, texts,
                                  SofaDate(static_cast<long long>(std::time(nullptr))), "vesk2sofa");
  nc.PutText(NC_GLOBAL, "Origin",
             "impulse-response list " + std::filesystem::path(irListPath).filename().string() +
                 " with microphone-array file " + std::filesystem::path(micPath).filename().string());
  DefinePositions(nc, dims);
  const int ir = nc.DefineVar("Data.IR", NC_DOUBLE, {dims.m, dims.r, dims.n});
  (void)ir;
  const int rate = nc.DefineVar("Data.SamplingRate", NC_DOUBLE, {dims.i});
  nc.PutText(rate, "Units", "hertz");
  nc.DefineVar("Data.Delay", NC_DOUBLE, {dims.i, dims.r});
  nc.EndDefine();

  PutPositions(nc, micPositions, sourcePositions);
  const double hz = samplingRateHz;
  nc.PutDoubles("Data.SamplingRate", {0}, {1}, &hz);
  const std::vector<double> delays(numMics, 0.0);
  nc.PutDoubles("Data.Delay", {0, 0}, {1, numMics}, delays.data());

  const std::size_t perSource = numMics * numSamples;
  const std::size_t block = std::max<std::size_t>(1, kBlockValues / perSource);
  std::vector<double> values;
  for (std::size_t first = 0; first < numSources; first += block) {
    const std::size_t count = std::min(block, numSources - first);
    values.resize(count * perSource);
    for (std::size_t row = 0; row < count * numMics; ++row) {
      const std::string& name = names[first * numMics + row];
      const std::vector<float> samples = vesktools::ReadFloat32LE(name);
      if (samples.size() != numSamples)
        throw ToolError(name + ": expected " + std::to_string(numSamples) + " samples (as " + names[0] + "), found " +
                        std::to_string(samples.size()));
      std::copy(samples.begin(), samples.end(), values.begin() + static_cast<std::ptrdiff_t>(row * numSamples));
    }
    nc.PutDoubles("Data.IR", {first, 0, 0}, {count, numMics, numSamples}, values.data());
  }
  nc.Close();
  pending.Commit();
}

}  // namespace vesksofa
