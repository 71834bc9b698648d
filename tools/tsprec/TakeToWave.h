// One take's recording as a wave file, written whole or not at all.
#ifndef VESK_TSPREC_TAKETOWAVE_H
#define VESK_TSPREC_TAKETOWAVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesktools {

// The 16-bit code of a sample (full scale 1.0): round(x * 32768), halves
// away from zero, clamped to the 16-bit range. Exact without a library
// call: x * 32768 is exact in double, and so is adding 0.5 to it (a float
// has 24 significant bits), so truncation rounds as std::lround would.
inline int16_t Pcm16(float x) {
  double v = double(x) * 32768.0;
  if (!(v == v)) return 0;  // NaN: silence
  v = v < -32768.0 ? -32768.0 : v > 32767.0 ? 32767.0 : v;
  return static_cast<int16_t>(v >= 0 ? static_cast<long>(v + 0.5) : static_cast<long>(v - 0.5));
}

// Writes `frames` interleaved frames of `channels` (full scale 1.0) to a
// hidden file beside `path` and renames it over `path` once complete and
// synced. 16-bit PCM stores round(x * 32768) clamped to the 16-bit range
// (samples captured as 16 bits come back unchanged); `asFloat` stores
// 32-bit floats. Throws ToolError naming the path and the reason; a
// failure or a signal leaves no partial file. A FIFO or device as the
// target is refused ("not a regular file").
void TakeToWave(const std::string& path, const std::vector<float>& interleaved, std::size_t frames,
                unsigned int channels, int rateHz, bool asFloat);

}  // namespace vesktools

#endif
