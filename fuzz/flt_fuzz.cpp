// The .flt reader: every whole 4-byte group becomes one little-endian float,
// a short tail is dropped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "veskio2/FltFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<float> samples = veskio2::flt::Read(in);
  if (samples.size() != size / 4) std::abort();
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t* p = data + 4 * i;
    const uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    uint32_t got;
    std::memcpy(&got, &samples[i], 4);
    if (got != bits) std::abort();
  }
  return 0;
}
