#include "FloatFile.h"

#include <fstream>
#include <iterator>

#include "ToolError.h"
#include "veskio2/FltFile.h"

namespace vesktools {

void WriteFloat32LE(const std::string& path, const std::vector<float>& values) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ToolError("cannot create " + path);
  veskio2::flt::Write(out, values.data(), values.size());
  out.close();
  if (!out) throw ToolError("cannot write " + path);
}

std::vector<float> ReadFloat32LE(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  if (bytes.size() % 4 != 0)
    throw ToolError(path + ": expected a multiple of 4 bytes, found " + std::to_string(bytes.size()));
  std::vector<float> values(bytes.size() / 4);
  veskio2::flt::DecodeSamples(bytes.data(), values.size(), values.data());
  return values;
}

}  // namespace vesktools
