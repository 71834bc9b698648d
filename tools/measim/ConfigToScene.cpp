#include "ConfigToScene.h"

#include <boost/pointer_cast.hpp>

#include "SceneToFiles.h"
#include "ToolError.h"
#include "veskio2/VeskConfig.h"
#include "dravik/Invocation.h"

namespace vesktools {
namespace vc = veskio2::veskconfig;

namespace {

Point3 ToPoint(const veskio2::Position<float>& p) {
  const veskio2::Vector3<float> v = p.ToCartesian();
  return Point3{v.x, v.y, v.z};
}

boost::shared_ptr<vc::VeskConfigFile> ReadConfig(const std::string& path) {
  boost::shared_ptr<vc::VeskConfigFile> file = vc::VeskConfigFileXMLReader(path).Read();
  if (!file) throw ToolError(path + ": not a configuration file");
  return file;
}

std::vector<SceneSource> ReadSources(const std::vector<vc::Source2>& sources) {
  std::vector<SceneSource> result;
  for (const vc::Source2& s : sources) {
    SceneSource src;
    src.position = ToPoint(s.GetPosition());
    for (const vc::File1& f : s.GetFiles()) src.files.push_back(SceneFile{f.GetName().raw(), f.GetMicIndices()});
    result.push_back(src);
  }
  return result;
}

}  // namespace

std::vector<SceneMic> ConfigToMics(const std::string& micArrayPath) {
  Scene scene;
  {
    auto file = ReadConfig(micArrayPath);
    auto mics = boost::dynamic_pointer_cast<vc::MicArrayLocationFile2_0>(file);
    if (!mics)
      throw ToolError(micArrayPath + ": expected MicArrayLocationFile 2.0, found " + file->GetId().raw() + " " +
                      file->GetVersion().ToString());
    try {
      for (const vc::Mic1& m : mics->GetMics())
        scene.mics.push_back(SceneMic{m.GetMicIndex(), ToPoint(m.GetPosition())});
    } catch (const veskio2::NotInitialized& e) {
      throw ToolError(micArrayPath + ": " + e.what());
    }
  }
  return scene.mics;
}

Scene ConfigToScene(const std::string& micArrayPath, const std::string& listPath) {
  Scene scene;
  scene.mics = ConfigToMics(micArrayPath);
  auto file = ReadConfig(listPath);
  try {
    if (auto tsp = boost::dynamic_pointer_cast<vc::TSPListFile2_0>(file)) {
      scene.kind = ListKind::TSP;
      scene.tsp.synchronous_average = tsp->GetSynchronousAverage();
      scene.tsp.tsp_offset = tsp->GetTspOffset();
      scene.tsp.tsp_length = tsp->HasTspLength() ? tsp->GetTspLength() : dravik::kDefaultSamplesPerFrame;
      scene.sources = ReadSources(tsp->GetSources());
    } else if (auto ir = boost::dynamic_pointer_cast<vc::ImpulseResponseListFile2_0>(file)) {
      scene.kind = ListKind::IMPULSE_RESPONSE;
      scene.sources = ReadSources(ir->GetSources());
    } else {
      throw ToolError(listPath + ": expected TSPListFile or ImpulseResponseListFile 2.0, found " + file->GetId().raw() +
                      " " + file->GetVersion().ToString());
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(listPath + ": " + e.what());
  }
  for (const SceneSource& s : scene.sources)
    for (const SceneFile& f : s.files) {
      if (f.micIndices.empty()) throw ToolError(listPath + ": file " + f.name + " has no micIndices");
      if (scene.kind == ListKind::IMPULSE_RESPONSE)
        for (unsigned int idx : f.micIndices) FindMic(scene, idx, f.name);
      else
        RecordingChannels(f);
    }
  return scene;
}

std::size_t FindMic(const Scene& scene, unsigned int micIndex, const std::string& fileName) {
  for (std::size_t m = 0; m < scene.mics.size(); ++m)
    if (scene.mics[m].micIndex == micIndex) return m;
  throw ToolError(fileName + ": micIndex " + std::to_string(micIndex) + " is not in the microphone-array file");
}

}  // namespace vesktools
