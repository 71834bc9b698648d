// The .flt reader: every whole 4-byte group becomes one little-endian float,
// a short tail is dropped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "FltBits.h"
#include "veskio2/FltFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<float> samples = veskio2::flt::Read(in);
  CheckFltBits(data, size, samples);
  return 0;
}
