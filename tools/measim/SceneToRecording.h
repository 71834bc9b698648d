// A recording of a scene: one or more sources playing at once, heard by the
// array through the same models as the measurements (free field, sphere,
// room, noise, clock drift), and the truth that goes with it.
#ifndef VESK_TOOLS_SCENETORECORDING_H
#define VESK_TOOLS_SCENETORECORDING_H

#include <string>
#include <vector>

#include "ConfigToScene.h"
#include "SceneToFiles.h"
#include "SoundFile.h"

namespace vesktools {

struct SceneSourceSpec {
  double azimuth_deg = 0, elevation_deg = 0, distance_m = 0;  // from the array's origin
  std::string signal;                                         // "noise", "pink", "speech" or a mono wave file
  double level_db = 0;                                        // re unit RMS at 1 m
  double start_s = 0;                                         // seconds from the recording's start
};

// "azimuth=DEG,elevation=DEG,distance=M,signal=SIG[,level=DB][,start=S]";
// throws ToolError naming --source, the text and what is wrong.
SceneSourceSpec ParseSourceSpec(const std::string& text);

// The source's position from the array's origin, metres.
Point3 SpecPosition(const SceneSourceSpec& spec);

struct SceneRecordingSettings {
  double duration_s = 0;
  bool diffuse = false;       // add a spherically isotropic noise field
  double diffuse_snr_db = 0;  // below the sources' mean direct power at the origin
};

// Channel k = scene.mics[k]; source src at scene.sources[src].position with
// the signal of specs[src] (unit RMS, times 10^(level/20), times --gain and
// --source-gain), each convolved with its responses; then the diffuse field
// (kDiffuseDirections plane waves of independent Gaussian noise from a
// Fibonacci lattice of directions, through the sphere when there is one),
// then sensor noise per channel. Deterministic for one seed. Throws
// ToolError for a wave file that is not mono at the simulation's rate.
Sound RenderScene(const Scene& scene, const std::vector<SceneSourceSpec>& specs,
                  const SceneRecordingSettings& scene_settings, const ResponseSettings& response,
                  const OutputSettings& output);

// The truth: {"samplingRate", "durationS", "sources": [{"azimuthDeg",
// "elevationDeg", "distance", "signal", "levelDb", "startS"}]}.
std::string SceneTruthJson(const std::vector<SceneSourceSpec>& specs, int sampling_hz, double duration_s);

// OUT.wav -> OUT.json (any other name gets ".json" appended).
std::string TruthPath(const std::string& scene_path);

constexpr int kDiffuseDirections = 64;

}  // namespace vesktools

#endif
