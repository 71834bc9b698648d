#include "SceneToFiles.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "FloatFile.h"
#include "PlaybackToDrifted.h"
#include "ResponseToRecording.h"
#include "ToolError.h"
#include "base/Cores.h"
#include "dravik/Invocation.h"

namespace vesktools {
namespace fs = std::filesystem;

namespace {

std::string OutputPath(const std::string& dir, const std::string& name) {
  const fs::path path = fs::path(dir) / name;
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  return path.string();
}

// Each output file is written once in a run: two entries naming one file
// would leave only the last measurement. Refused before anything is written.
void CheckDistinctOutputs(const Scene& scene, const std::string& dir) {
  std::map<std::string, std::size_t> firstSource;
  for (std::size_t src = 0; src < scene.sources.size(); ++src) {
    for (const SceneFile& file : scene.sources[src].files) {
      const std::string path = (fs::path(dir) / file.name).lexically_normal().string();
      const auto found = firstSource.emplace(path, src);
      if (found.second) continue;
      throw ToolError(file.name + ": named by source " + std::to_string(found.first->second) +
                      (found.first->second == src ? " twice" : " and by source " + std::to_string(src)) +
                      "; measim writes each file once (a path template without {ELEVATION:%d} or "
                      "{HEIGHT:%d} names several positions with one file)");
    }
  }
}

std::vector<float> ToFloat(const std::vector<double>& v) { return std::vector<float>(v.begin(), v.end()); }

// Responses are computed once per (source, microphone), a source's on every
// core at once, and written on request.
class ResponseCache {
public:
  ResponseCache(const Scene& scene, const ResponseSettings& settings, const OutputSettings& output)
      : scene_(scene), settings_(settings), output_(output) {}

  // Computes the responses of source `src` to the microphones `mics`
  // (positions in the microphone-array file), in parallel; a failure is
  // reported as the first of them in `mics` order would be alone, so that
  // errors do not depend on the threads.
  void Prepare(std::size_t src, const std::vector<std::size_t>& mics) {
    std::vector<std::vector<double>> made(mics.size());
    std::vector<std::exception_ptr> failed(mics.size());
    vesk::OverCores(
        mics.size(),
        [&](std::size_t first, std::size_t last) {
          for (std::size_t i = first; i < last; ++i) try {
              const SceneMic& m = scene_.mics.at(mics[i]);
              made[i] = GeometryToResponse(scene_.sources[src].position, m.position, settings_, src, m.micIndex);
            } catch (...) {
              failed[i] = std::current_exception();
            }
        },
        1);
    for (std::size_t i = 0; i < mics.size(); ++i) {
      if (failed[i]) std::rethrow_exception(failed[i]);
      const SceneMic& m = scene_.mics[mics[i]];
      if (!output_.response_dir.empty())
        WriteFloat32LE(OutputPath(output_.response_dir, ResponseFileName(src, m.micIndex)), ToFloat(made[i]));
      cache_.emplace(std::make_pair(src, mics[i]), std::move(made[i]));
    }
  }
  // A prepared response; safe on several threads at once.
  const std::vector<double>& Get(std::size_t src, std::size_t mic) const { return cache_.at(std::make_pair(src, mic)); }
  std::size_t Count() const { return cache_.size(); }
  void ClearSource() { cache_.clear(); }

private:
  const Scene& scene_;
  const ResponseSettings& settings_;
  const OutputSettings& output_;
  std::map<std::pair<std::size_t, std::size_t>, std::vector<double>> cache_;
};

std::vector<std::size_t> FirstMics(std::size_t count) {
  std::vector<std::size_t> mics(count);
  for (std::size_t k = 0; k < count; ++k) mics[k] = k;
  return mics;
}

}  // namespace

std::vector<unsigned int> RecordingChannels(const SceneFile& file) {
  std::vector<unsigned int> channels = file.micIndices;
  std::sort(channels.begin(), channels.end());
  channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
  if (!channels.empty() && channels.back() >= dravik::kSelectableChannels)
    throw ToolError(file.name + ": micIndex " + std::to_string(channels.back()) +
                    " names a recording channel the impulse calculator cannot select (0 to " +
                    std::to_string(dravik::kSelectableChannels - 1) + ")");
  return channels;
}

std::string ResponseFileName(std::size_t src, unsigned int micIndex) {
  char name[64];
  std::snprintf(name, sizeof name, "src%03zu_mic%02u.flt", src, micIndex);
  return name;
}

SimulationReport WriteRecordings(const Scene& scene, const Sound& playback, const ResponseSettings& response,
                                 const OutputSettings& output) {
  CheckDistinctOutputs(scene, output.output_dir);
  if (playback.channels.size() != 1)
    throw ToolError("the playback wave must have one channel, found " + std::to_string(playback.channels.size()));
  const std::size_t needed = static_cast<std::size_t>(scene.tsp.tsp_offset) +
                             static_cast<std::size_t>(scene.tsp.tsp_length) * scene.tsp.synchronous_average;
  if (playback.Frames() < needed) {
    std::ostringstream msg;
    msg << "the playback wave has " << playback.Frames() << " frames, the list's tspOffset " << scene.tsp.tsp_offset
        << " plus " << scene.tsp.synchronous_average << " periods of " << scene.tsp.tsp_length << " need " << needed;
    throw ToolError(msg.str());
  }
  if (response.length_samples > scene.tsp.tsp_offset)
    std::cerr << "measim: warning: responses of " << response.length_samples << " samples are longer than tspOffset "
              << scene.tsp.tsp_offset << "; the averaged periods are not yet in steady state\n";

  ResponseSettings settings = response;
  settings.sampling_hz = playback.sampleRateHz;
  PlaybackConvolver convolver(PlaybackToDrifted(playback.channels[0], output.clock_drift_ppm), settings.length_samples);
  ResponseCache cache(scene, settings, output);
  SimulationReport report;
  report.frames = convolver.OutputLength();
  for (std::size_t src = 0; src < scene.sources.size(); ++src) {
    const SceneSource& source = scene.sources[src];
    std::vector<std::vector<unsigned int>> fileChannels;
    std::size_t used = 0;  // the array's first `used` microphones are recorded
    for (const SceneFile& file : source.files) {
      fileChannels.push_back(RecordingChannels(file));
      used = std::max(used, std::min(fileChannels.back().size(), scene.mics.size()));
    }
    cache.Prepare(src, FirstMics(used));
    const auto gainIt = output.source_gain.find(src);
    const double gain = output.gain * (gainIt == output.source_gain.end() ? 1.0 : gainIt->second);
    const auto snrIt = output.source_snr_db.find(src);
    for (std::size_t f = 0; f < source.files.size(); ++f) {
      const SceneFile& file = source.files[f];
      Sound recording;
      recording.sampleRateHz = playback.sampleRateHz;
      const std::vector<unsigned int>& channels = fileChannels[f];
      recording.channels.assign(channels.empty() ? 0 : channels.back() + 1, std::vector<double>());
      // The k-th listed channel is the array's k-th microphone; channels the
      // list does not name stay silent. Each channel is made from its own
      // seed, so the channels may be made on every core at once.
      vesk::OverCores(
          std::min(channels.size(), scene.mics.size()),
          [&](std::size_t firstMic, std::size_t lastMic) {
            for (std::size_t k = firstMic; k < lastMic; ++k) {
              std::vector<double> channel = convolver.Convolve(cache.Get(src, k));
              for (double& v : channel) v *= gain;
              if (output.add_noise || snrIt != output.source_snr_db.end()) {
                // 0x6e6f697365 ("noise") keeps these streams apart from the tails'.
                std::seed_seq seq{static_cast<uint64_t>(settings.seed), uint64_t{0x6e6f697365},
                                  static_cast<uint64_t>(src), static_cast<uint64_t>(f), static_cast<uint64_t>(k)};
                std::mt19937_64 rng(seq);
                AddSensorNoise(channel, snrIt == output.source_snr_db.end() ? output.snr_db : snrIt->second, rng);
              }
              if (output.allow_clipping && output.wave_format == WaveFormat::PCM16)
                for (double& v : channel) v = std::min(std::max(v, -1.0), 32767.0 / 32768.0);
              recording.channels[channels[k]] = std::move(channel);
            }
          },
          1);
      for (std::vector<double>& channel : recording.channels)
        if (channel.empty()) channel.assign(report.frames, 0.0);
      WriteSound(OutputPath(output.output_dir, file.name), recording, output.wave_format);
      ++report.files;
    }
    report.responses += cache.Count();
    cache.ClearSource();
  }
  return report;
}

SimulationReport WriteImpulseResponses(const Scene& scene, const ResponseSettings& response,
                                       const OutputSettings& output) {
  CheckDistinctOutputs(scene, output.output_dir);
  ResponseCache cache(scene, response, output);
  SimulationReport report;
  report.frames = response.length_samples;
  for (std::size_t src = 0; src < scene.sources.size(); ++src) {
    std::vector<std::size_t> fileMics, used;
    for (const SceneFile& file : scene.sources[src].files) {
      if (file.micIndices.size() != 1)
        throw ToolError(file.name + ": an impulse-response file needs exactly one micIndex, found " +
                        std::to_string(file.micIndices.size()));
      fileMics.push_back(FindMic(scene, file.micIndices[0], file.name));
      if (std::find(used.begin(), used.end(), fileMics.back()) == used.end()) used.push_back(fileMics.back());
    }
    cache.Prepare(src, used);
    for (std::size_t f = 0; f < fileMics.size(); ++f) {
      WriteFloat32LE(OutputPath(output.output_dir, scene.sources[src].files[f].name),
                     ToFloat(cache.Get(src, fileMics[f])));
      ++report.files;
    }
    report.responses += cache.Count();
    cache.ClearSource();
  }
  return report;
}

}  // namespace vesktools
