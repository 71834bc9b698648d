// The byte order of the project's binary formats (the transfer-function file,
// .flt impulse responses): fixed-width numbers as little-endian bytes on any
// host, appended to a byte string or stored to and loaded from raw bytes.
#ifndef VESKIO2_BYTEORDER_H
#define VESKIO2_BYTEORDER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace veskio2 {
namespace detail {

inline void StoreU32(unsigned char* p, uint32_t v);
inline void StoreU64(unsigned char* p, uint64_t v);

inline void PutU8(std::string& out, uint8_t v) { out += static_cast<char>(v); }

inline void PutU32(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v & 0xffu), static_cast<char>((v >> 8) & 0xffu),
                         static_cast<char>((v >> 16) & 0xffu), static_cast<char>((v >> 24) & 0xffu)};
  out.append(bytes, 4);
}

inline void PutU64(std::string& out, uint64_t v) {
  unsigned char bytes[8];
  StoreU64(bytes, v);
  out.append(reinterpret_cast<const char*>(bytes), 8);
}

inline void PutI32(std::string& out, int32_t v) { PutU32(out, static_cast<uint32_t>(v)); }

// The IEEE-754 bit pattern, NaN payloads included.
inline void PutF32(std::string& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(out, bits);
}

inline void StoreU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xffu);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xffu);
  p[2] = static_cast<unsigned char>((v >> 16) & 0xffu);
  p[3] = static_cast<unsigned char>((v >> 24) & 0xffu);
}

inline void StoreU64(unsigned char* p, uint64_t v) {
  StoreU32(p, static_cast<uint32_t>(v & 0xffffffffu));
  StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The IEEE-754 bit pattern, NaN payloads included.
inline void StoreF32(unsigned char* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU32(p, bits);
}

inline uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t GetU64(const unsigned char* p) {
  return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}

inline float GetF32(const unsigned char* p) {
  const uint32_t bits = GetU32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Whether this machine stores numbers little-endian, as the files do.
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Turns `bytes` bytes of consecutive 32-bit words (u32, i32 or f32) between
// this machine's order and little-endian, in place (nothing to do on a
// little-endian machine). `bytes` is a multiple of 4.
inline void SwapWordsToLittleEndian(char* p, std::size_t bytes) {
  if constexpr (!kLittleEndianHost) {
    for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
      std::swap(p[i], p[i + 3]);
      std::swap(p[i + 1], p[i + 2]);
    }
  }
}

}  // namespace detail
}  // namespace veskio2

#endif
