// The measurement set-up as the simulator needs it, read from a
// microphone-array location file and a TSP or impulse-response list file.
#ifndef VESK_TOOLS_CONFIGTOSCENE_H
#define VESK_TOOLS_CONFIGTOSCENE_H

#include <string>
#include <vector>

#include "GeometryToResponse.h"

namespace vesktools {

struct SceneMic {
  unsigned int micIndex = 0;
  Point3 position;  // metres
};

struct SceneFile {
  std::string name;                      // as written in the list file
  std::vector<unsigned int> micIndices;  // TSP list: recording channels; impulse list: the one micIndex
};

struct SceneSource {
  Point3 position;  // metres
  std::vector<SceneFile> files;
};

enum class ListKind { TSP, IMPULSE_RESPONSE };

struct TspListSettings {
  unsigned int synchronous_average = 0;  // periods averaged
  unsigned int tsp_offset = 0;           // samples before the averaged periods
  unsigned int tsp_length = 0;           // samples per period
};

struct Scene {
  ListKind kind = ListKind::TSP;
  std::vector<SceneMic> mics;
  std::vector<SceneSource> sources;
  TspListSettings tsp;  // TSP lists only
};

// Reads both files through veskio2. Throws ToolError naming the file when a
// file is of the wrong kind or lacks a field the simulator needs, and when an
// impulse-response list names a micIndex that the microphone-array file does
// not hold.
Scene ConfigToScene(const std::string& micArrayPath, const std::string& listPath);

// The microphones of a microphone-array location file alone, in file order.
std::vector<SceneMic> ConfigToMics(const std::string& micArrayPath);

// Position in `scene.mics` of the microphone with this micIndex; throws
// ToolError naming the list file entry when there is none.
std::size_t FindMic(const Scene& scene, unsigned int micIndex, const std::string& fileName);

}  // namespace vesktools

#endif
