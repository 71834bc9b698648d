// One take's recording as a wave file, written whole or not at all.
#ifndef VESK_TSPREC_TAKETOWAVE_H
#define VESK_TSPREC_TAKETOWAVE_H

#include <cstddef>
#include <string>
#include <vector>

namespace vesktools {

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
