// Test waves written through libsndfile: one writer for every test.
#ifndef TESTS_SUPPORT_WAVEFILE_H
#define TESTS_SUPPORT_WAVEFILE_H

#include <sndfile.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/SoundFileHandle.h"

namespace vesk_test {

namespace detail {
inline sf_count_t WriteFrames(SNDFILE* file, const float* data, sf_count_t frames) {
  return sf_writef_float(file, data, frames);
}
inline sf_count_t WriteFrames(SNDFILE* file, const double* data, sf_count_t frames) {
  return sf_writef_double(file, data, frames);
}
inline sf_count_t WriteFrames(SNDFILE* file, const short* data, sf_count_t frames) {
  return sf_writef_short(file, data, frames);
}
}  // namespace detail

// Writes `interleaved` (frames of `channels` samples; float and double at
// full scale 1, short as 16-bit codes) to `path` at `rateHz` in `format`
// (libsndfile's major | subtype; default 32-bit float WAV). Throws
// std::runtime_error naming the file when it cannot be written whole.
template <typename Sample>
void WriteWaveFile(const std::string& path, const std::vector<Sample>& interleaved, int channels, int rateHz = 16000,
                   int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
  SF_INFO info{};
  info.samplerate = rateHz;
  info.channels = channels;
  info.format = format;
  vesk::SoundFileHandle file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) throw std::runtime_error("cannot write wave " + path + ": " + sf_strerror(nullptr));
  const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels));
  if (detail::WriteFrames(file.get(), interleaved.data(), frames) != frames)
    throw std::runtime_error("cannot write wave " + path + ": short write");
  if (sf_close(file.release()) != 0) throw std::runtime_error("cannot write wave " + path + ": cannot finish it");
}

}  // namespace vesk_test

#endif
