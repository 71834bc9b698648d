// Whether samples read from a .flt file are its whole 4-byte groups, each
// the little-endian bit pattern of one float; aborts otherwise.
#ifndef FUZZ_FLTBITS_H
#define FUZZ_FLTBITS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

inline void CheckFltBits(const uint8_t* data, size_t size, const std::vector<float>& samples) {
  if (samples.size() != size / 4) std::abort();
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t* p = data + 4 * i;
    const uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    uint32_t got;
    std::memcpy(&got, &samples[i], 4);
    if (got != bits) std::abort();
  }
}

#endif
