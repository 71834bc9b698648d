#include "ListToTargets.h"

#include <cmath>
#include <sstream>

#include <boost/pointer_cast.hpp>

#include "ToolError.h"
#include "veskio2/VeskConfig.h"

namespace vesktools {
namespace vc = veskio2::veskconfig;

std::vector<veskio2::Vector3<float>> ListToTargets(const std::string& path) {
  boost::shared_ptr<vc::VeskConfigFile> file;
  try {
    file = vc::VeskConfigFileXMLReader(path).Read();
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  if (!file) throw ToolError(path + ": expected a list file, found no configuration file");
  std::vector<veskio2::Position<float>> positions;
  try {
    if (auto tsp = boost::dynamic_pointer_cast<vc::TSPListFile2_0>(file)) {
      for (const auto& s : tsp->GetSources()) positions.push_back(s.GetPosition());
    } else if (auto ir = boost::dynamic_pointer_cast<vc::ImpulseResponseListFile2_0>(file)) {
      for (const auto& s : ir->GetSources()) positions.push_back(s.GetPosition());
    } else if (auto noise = boost::dynamic_pointer_cast<vc::NoiseLocationFile2_0>(file)) {
      for (const auto& s : noise->GetNoiseSources()) positions.push_back(s.GetPosition());
    } else {
      throw ToolError(path + ": expected TSPListFile, ImpulseResponseListFile or NoiseLocationFile 2.0, found " +
                      file->GetId().raw() + " " + file->GetVersion().ToString());
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(path + ": source " + std::to_string(positions.size()) + ": " + e.what());
  }
  if (positions.empty()) throw ToolError(path + ": lists no sources");
  std::vector<veskio2::Vector3<float>> targets;
  targets.reserve(positions.size());
  for (const auto& position : positions) {
    const veskio2::Vector3<float> p = position.ToCartesian();
    const double length = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
    if (!std::isfinite(length) || length == 0) {
      std::ostringstream msg;
      msg << path << ": source " << targets.size() << " lies at (" << p.x << ", " << p.y << ", " << p.z
          << ") m: a target needs a finite position away from the origin";
      throw ToolError(msg.str());
    }
    targets.push_back(p);
  }
  return targets;
}

}  // namespace vesktools
