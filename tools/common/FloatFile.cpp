#include "FloatFile.h"

#include <fstream>
#include <iterator>

#include "ToolError.h"
#include "base/OutputTarget.h"
#include "veskio2/FltFile.h"
#include "veskio2/RegularFile.h"

namespace vesktools {

void WriteFloat32LE(const std::string& path, const std::vector<float>& values) {
  std::vector<unsigned char> bytes(values.size() * veskio2::flt::kBytesPerSample);
  veskio2::flt::EncodeSamples(values.data(), values.size(), bytes.data());
  WriteOutputFile(path, bytes.data(), bytes.size());
}

void WriteOutputFile(const std::string& path, const void* data, std::size_t size) {
  vesk::OutputTarget out;
  if (!out.Open(path) || !out.Write(data, size) || !out.Commit()) throw ToolError(out.Error());
}

std::vector<float> ReadFloat32LE(const std::string& path) {
  if (veskio2::ExistsButNotRegular(path)) throw ToolError("cannot open " + path + ": " + veskio2::kNotRegularFile);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() % 4 != 0)
    throw ToolError(path + ": expected a multiple of 4 bytes, found " + std::to_string(bytes.size()));
  std::vector<float> values(bytes.size() / 4);
  veskio2::flt::DecodeSamples(bytes.data(), values.size(), values.data());
  return values;
}

}  // namespace vesktools
