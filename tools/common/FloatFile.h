// Raw little-endian IEEE-754 float32 files without header (TSP origins and
// impulse responses).
#ifndef VESK_TOOLS_FLOATFILE_H
#define VESK_TOOLS_FLOATFILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace vesktools {

// Writes every value as 4 little-endian bytes, whatever the host order.
// Throws ToolError naming the path when it cannot be created or written.
void WriteFloat32LE(const std::string& path, const std::vector<float>& values);

// Writes `size` bytes to the output file `path` (a regular file replaced
// whole, a FIFO or device written into). Throws ToolError naming the path
// and the system's reason.
void WriteOutputFile(const std::string& path, const void* data, std::size_t size);

// Reads a whole file; throws ToolError when it cannot be opened or when its
// size is not a multiple of 4 ("expected a multiple of 4 bytes, found N").
std::vector<float> ReadFloat32LE(const std::string& path);

}  // namespace vesktools

#endif
