#include "TakeToWave.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ToolError.h"
#include "base/OutputTarget.h"
#include "base/SoundFileHandle.h"

namespace vesktools {

void TakeToWave(const std::string& path, const std::vector<float>& interleaved, std::size_t frames,
                unsigned int channels, int rateHz, bool asFloat) {
  vesk::OutputTarget target;
  if (!target.Open(path)) throw ToolError(target.Error());
  if (target.TemporaryPath().empty()) {
    target.Discard();
    throw ToolError("cannot write recording '" + path + "': not a regular file");
  }
  SF_INFO info{};
  info.samplerate = rateHz;
  info.channels = static_cast<int>(channels);
  info.format = SF_FORMAT_WAV | (asFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  vesk::SoundFileHandle file(sf_open(target.TemporaryPath().c_str(), SFM_WRITE, &info));
  if (!file) throw ToolError("cannot write recording '" + path + "': " + sf_strerror(nullptr));
  constexpr std::size_t kBlock = 8192;
  std::vector<int16_t> pcm;
  for (std::size_t at = 0; at < frames; at += kBlock) {
    const std::size_t n = std::min(kBlock, frames - at);
    const float* x = interleaved.data() + at * channels;
    sf_count_t wrote;
    if (asFloat) {
      wrote = sf_writef_float(file.get(), x, static_cast<sf_count_t>(n));
    } else {
      pcm.resize(n * channels);
      for (std::size_t i = 0; i < n * channels; ++i) pcm[i] = Pcm16(x[i]);
      wrote = sf_writef_short(file.get(), pcm.data(), static_cast<sf_count_t>(n));
    }
    if (wrote != static_cast<sf_count_t>(n))
      throw ToolError("cannot write recording '" + path + "': " + sf_strerror(file.get()));
  }
  if (sf_close(file.release()) != 0) throw ToolError("cannot write recording '" + path + "': cannot finish the header");
  if (!target.Commit()) throw ToolError(target.Error());
}

}  // namespace vesktools
