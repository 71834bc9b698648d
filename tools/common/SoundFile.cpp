#include "SoundFile.h"

#include <cmath>
#include <memory>
#include <sstream>

#include <sndfile.h>

#include "ToolError.h"
#include "base/SoundFileHandle.h"

namespace vesktools {
namespace {

using SndFilePtr = vesk::SoundFileHandle;

SndFilePtr OpenForWriting(const std::string& path, SF_INFO& info) {
  SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) throw ToolError("cannot create " + path + ": " + sf_strerror(nullptr));
  return file;
}

}  // namespace

Sound ReadSound(const std::string& path) {
  SF_INFO info{};
  SndFilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw ToolError("cannot open " + path + ": " + sf_strerror(nullptr));
  const auto frames = static_cast<std::size_t>(info.frames);
  const auto numChannels = static_cast<std::size_t>(info.channels);
  std::vector<double> interleaved(frames * numChannels);
  const sf_count_t got = sf_readf_double(file.get(), interleaved.data(), info.frames);
  if (got != info.frames) {
    std::ostringstream msg;
    msg << path << ": expected " << info.frames << " frames, found " << got;
    throw ToolError(msg.str());
  }
  Sound sound;
  sound.sampleRateHz = info.samplerate;
  sound.channels.assign(numChannels, std::vector<double>(frames));
  for (std::size_t t = 0; t < frames; ++t)
    for (std::size_t ch = 0; ch < numChannels; ++ch) sound.channels[ch][t] = interleaved[t * numChannels + ch];
  return sound;
}

void WriteSound(const std::string& path, const Sound& sound, WaveFormat format) {
  const std::size_t numChannels = sound.channels.size();
  const std::size_t frames = sound.Frames();
  if (numChannels == 0) throw ToolError("no channels to write to " + path);
  for (const auto& ch : sound.channels)
    if (ch.size() != frames) throw ToolError("channels of different lengths for " + path);

  SF_INFO info{};
  info.samplerate = sound.sampleRateHz;
  info.channels = static_cast<int>(numChannels);
  info.format = SF_FORMAT_WAV | (format == WaveFormat::PCM16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  if (format == WaveFormat::PCM16) {
    // Convert (and check for clipping) before the file is created, so that a
    // refused recording leaves no half-written file behind.
    std::vector<int16_t> interleaved(frames * numChannels);
    for (std::size_t ch = 0; ch < numChannels; ++ch) {
      for (std::size_t t = 0; t < frames; ++t) {
        const double scaled = std::round(sound.channels[ch][t] * 32768.0);
        if (scaled > 32767.0 || scaled < -32768.0) {
          std::ostringstream msg;
          msg << path << ": channel " << ch << " clips in 16-bit PCM at frame " << t << " (value "
              << sound.channels[ch][t] << "); lower the gain or write float";
          throw ToolError(msg.str());
        }
        interleaved[t * numChannels + ch] = static_cast<int16_t>(scaled);
      }
    }
    SndFilePtr file = OpenForWriting(path, info);
    if (sf_writef_short(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
        static_cast<sf_count_t>(frames))
      throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
  } else {
    std::vector<float> interleaved(frames * numChannels);
    for (std::size_t ch = 0; ch < numChannels; ++ch)
      for (std::size_t t = 0; t < frames; ++t)
        interleaved[t * numChannels + ch] = static_cast<float>(sound.channels[ch][t]);
    SndFilePtr file = OpenForWriting(path, info);
    if (sf_writef_float(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
        static_cast<sf_count_t>(frames))
      throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
  }
}

void WritePcm16(const std::string& path, int sampleRateHz, const std::vector<int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = sampleRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndFilePtr file = OpenForWriting(path, info);
  if (sf_writef_short(file.get(), samples.data(), static_cast<sf_count_t>(samples.size())) !=
      static_cast<sf_count_t>(samples.size()))
    throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
}

}  // namespace vesktools
