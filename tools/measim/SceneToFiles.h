// Writes every file a list names: recordings for a TSP list, .flt impulse
// responses for an impulse-response list.
#ifndef VESK_TOOLS_SCENETOFILES_H
#define VESK_TOOLS_SCENETOFILES_H

#include <cstddef>
#include <map>
#include <string>

#include "ConfigToScene.h"
#include "GeometryToResponse.h"
#include "SoundFile.h"

namespace vesktools {

struct OutputSettings {
  std::string output_dir = ".";  // list file names are taken relative to it
  WaveFormat wave_format = WaveFormat::PCM16;
  double gain = 1.0;  // linear, applied to recordings
  bool add_noise = false;
  double snr_db = 40.0;      // sensor noise below each channel's mean power
  std::string response_dir;  // non-empty: also write each response used
  // Planted faults, for trying out checks of a measurement (source = position
  // in the list): extra linear gain and own SNR (dB) of a source's
  // recordings, a recorder clock running clock_drift_ppm faster than the
  // player's, and 16-bit recordings saturated instead of refused.
  std::map<std::size_t, double> source_gain;
  std::map<std::size_t, double> source_snr_db;
  double clock_drift_ppm = 0.0;
  bool allow_clipping = false;
};

struct SimulationReport {
  std::size_t files = 0;
  std::size_t responses = 0;
  std::size_t frames = 0;  // per recording
};

// Name of the exact response written to response_dir for source `src` (list
// order) and microphone `micIndex`: "src%03u_mic%02u.flt".
std::string ResponseFileName(std::size_t src, unsigned int micIndex);

// The recording channels a TSP-list file's micIndices name, in the order the
// impulse calculator processes them (ascending, each once): the k-th of them
// belongs to the microphone-array file's k-th microphone. Throws ToolError
// naming the file for a channel the impulse calculator cannot select.
std::vector<unsigned int> RecordingChannels(const SceneFile& file);

// TSP list: each file becomes a multichannel wave of (highest listed channel
// + 1) channels; listed channel k (see RecordingChannels) is the playback
// convolved with the response to the array's k-th microphone, times gain,
// plus noise; unlisted channels are silent. With clock drift the playback is
// resampled first.
// Throws ToolError when the playback is not mono or
// too short for the list's offset and periods, or a file cannot be written.
SimulationReport WriteRecordings(const Scene& scene, const Sound& playback, const ResponseSettings& response,
                                 const OutputSettings& output);

// Impulse-response list: each file (one micIndex) becomes `length_samples`
// float32 samples of the response.
SimulationReport WriteImpulseResponses(const Scene& scene, const ResponseSettings& response,
                                       const OutputSettings& output);

}  // namespace vesktools

#endif
