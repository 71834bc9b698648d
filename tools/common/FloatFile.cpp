#include "FloatFile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "ToolError.h"
#include "base/OutputTarget.h"

namespace vesktools {

void WriteFloat32LE(const std::string& path, const std::vector<float>& values) {
  std::vector<unsigned char> bytes(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) {
    uint32_t bits;
    std::memcpy(&bits, &values[i], 4);
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
  }
  WriteOutputFile(path, bytes.data(), bytes.size());
}

void WriteOutputFile(const std::string& path, const void* data, std::size_t size) {
  vesk::OutputTarget out;
  if (!out.Open(path) || !out.Write(data, size) || !out.Commit()) throw ToolError(out.Error());
}

std::vector<float> ReadFloat32LE(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  if (bytes.size() % 4 != 0)
    throw ToolError(path + ": expected a multiple of 4 bytes, found " + std::to_string(bytes.size()));
  std::vector<float> values(bytes.size() / 4);
  for (std::size_t i = 0; i < values.size(); ++i) {
    uint32_t bits = 0;
    for (int b = 0; b < 4; ++b) bits |= static_cast<uint32_t>(bytes[4 * i + b]) << (8 * b);
    std::memcpy(&values[i], &bits, 4);
  }
  return values;
}

}  // namespace vesktools
