// Wave files through libsndfile, with the handle closed by RAII.
#ifndef VESK_TOOLS_SOUNDFILE_H
#define VESK_TOOLS_SOUNDFILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesktools {

// Channel-major samples in libsndfile's normalised scale (16-bit full scale
// = 1.0, that is int16 / 32768).
struct Sound {
  int sampleRateHz = 0;
  std::vector<std::vector<double>> channels;  // [channel][frame]
  std::size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

enum class WaveFormat { PCM16, FLOAT32 };

// Throws ToolError naming the path when it cannot be opened or read whole.
Sound ReadSound(const std::string& path);

// Writes a WAV file. PCM16 stores round(x * 32768), so a value read back from
// a 16-bit file is written back unchanged; a value outside [-1, 32767/32768]
// would clip, and throws ToolError naming the file, channel and peak instead.
// FLOAT32 stores the values as they are. All channels must have one length.
void WriteSound(const std::string& path, const Sound& sound, WaveFormat format);

// Reads a sound file block by block (memory independent of its length),
// interleaved frames in libsndfile's normalised scale.
class SoundReader {
public:
  // Throws ToolError naming the path when it cannot be opened.
  explicit SoundReader(const std::string& path);
  ~SoundReader();
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  int Channels() const;
  int SampleRateHz() const;
  std::size_t Frames() const;  // as the header says
  // Largest positive sample the format can hold: (2^(b-1) - 1) / 2^(b-1)
  // for b-bit integer PCM, 1 for floating-point formats.
  double FullScale() const;
  // Reads up to `frames` frames into `interleaved` (frames x Channels());
  // returns the number read, 0 at the end. Throws ToolError on a read error.
  std::size_t Read(double* interleaved, std::size_t frames);
  std::size_t Read(float* interleaved, std::size_t frames);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes 16-bit PCM samples exactly as given (one channel).
void WritePcm16(const std::string& path, int sampleRateHz, const std::vector<int16_t>& samples);

}  // namespace vesktools

#endif
