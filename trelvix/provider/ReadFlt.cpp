#include "provider/ReadFlt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

namespace trelvix {

namespace {
float FloatFromLittleEndian(const unsigned char* b) {
  const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Appends the samples of `in` to *samples.
void AppendFlt(std::istream& in, std::vector<float>* samples_out) {
  std::vector<float>& samples = *samples_out;
  if (!in) return;
  constexpr std::size_t kBlockBytes = 64 * 1024;  // a multiple of 4
  std::array<unsigned char, kBlockBytes + 4> block;
  std::size_t carried = 0;  // bytes of an unfinished sample left from the last block
  while (in) {
    in.read(reinterpret_cast<char*>(block.data() + carried), kBlockBytes);
    const std::size_t bytes = carried + static_cast<std::size_t>(in.gcount());
    const std::size_t whole = bytes / 4 * 4;
    for (std::size_t i = 0; i < whole; i += 4) samples.push_back(FloatFromLittleEndian(&block[i]));
    carried = bytes - whole;
    std::memmove(block.data(), block.data() + whole, carried);
  }
}

}  // namespace

std::vector<float> ReadFlt(std::istream& in) {
  std::vector<float> samples;
  AppendFlt(in, &samples);
  return samples;
}

std::vector<float> ReadFltFile(const std::string& path, std::string* problem) {
  std::string why;
  std::vector<float> samples;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) why = "cannot open";
    // The size known up front saves growing the vector a dozen times; the
    // cap keeps a huge (or sparse) file from claiming memory before it is read.
    constexpr off_t kMaxReservedSamples = off_t{1} << 20;
    samples.reserve(static_cast<std::size_t>(std::min(st.st_size / 4, kMaxReservedSamples)));
    AppendFlt(in, &samples);
    if (samples.empty() && why.empty()) why = "holds no whole sample";
  }
  if (problem) *problem = samples.empty() ? why : std::string();
  return samples;
}

}  // namespace trelvix
