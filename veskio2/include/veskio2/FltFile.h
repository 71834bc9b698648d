// The .flt impulse-response file: raw little-endian IEEE-754 float32 samples,
// no header, no trailer. Every reader and writer of the format in the
// project goes through here.
#ifndef VESKIO2_FLTFILE_H
#define VESKIO2_FLTFILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "veskio2/ByteOrder.h"
#include "veskio2/RegularFile.h"

namespace veskio2 {
namespace flt {

constexpr std::size_t kBytesPerSample = 4;

// Encodes `count` samples into 4 * count bytes at `bytes`.
inline void EncodeSamples(const float* samples, std::size_t count, unsigned char* bytes) {
  for (std::size_t i = 0; i < count; ++i) detail::StoreF32(bytes + kBytesPerSample * i, samples[i]);
}

// Decodes `count` samples from 4 * count bytes at `bytes`.
inline void DecodeSamples(const unsigned char* bytes, std::size_t count, float* samples) {
  for (std::size_t i = 0; i < count; ++i) samples[i] = detail::GetF32(bytes + kBytesPerSample * i);
}

// Appends every whole sample of `in` to *samples; a tail of 1 to 3 bytes is
// dropped. A failed stream appends nothing.
inline void AppendSamples(std::istream& in, std::vector<float>* samples) {
  if (!in) return;
  constexpr std::size_t kBlockBytes = 64 * 1024;  // a multiple of 4
  std::array<unsigned char, kBlockBytes + kBytesPerSample> block;
  std::size_t carried = 0;  // bytes of an unfinished sample left from the last block
  while (in) {
    in.read(reinterpret_cast<char*>(block.data() + carried), kBlockBytes);
    const std::size_t bytes = carried + static_cast<std::size_t>(in.gcount());
    const std::size_t whole = bytes / kBytesPerSample;
    const std::size_t at = samples->size();
    samples->resize(at + whole);
    DecodeSamples(block.data(), whole, samples->data() + at);
    carried = bytes - whole * kBytesPerSample;
    std::memmove(block.data(), block.data() + whole * kBytesPerSample, carried);
  }
}

inline std::vector<float> Read(std::istream& in) {
  std::vector<float> samples;
  AppendSamples(in, &samples);
  return samples;
}

// Writes the samples; the caller checks the stream.
inline void Write(std::ostream& out, const float* samples, std::size_t count) {
  constexpr std::size_t kBlockSamples = 16 * 1024;
  std::vector<unsigned char> block(kBytesPerSample * std::min(count, kBlockSamples));
  for (std::size_t done = 0; done < count && out;) {
    const std::size_t n = std::min(count - done, kBlockSamples);
    EncodeSamples(samples + done, n, block.data());
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(kBytesPerSample * n));
    done += n;
  }
}

// An open .flt file that is a regular file: anything else (a device such as
// /dev/zero, a pipe, a directory) counts as a file that cannot be opened,
// since such a stream may never end or its size is unknown.
class InputFile {
public:
  explicit InputFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      problem_ = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
      problem_ = kNotRegularFile;
    } else if ((fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
      problem_ = "cannot open";
    } else if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      problem_ = kNotRegularFile;  // replaced between the two looks
    } else {
      samples_ = static_cast<std::size_t>(st.st_size) / kBytesPerSample;
      if (samples_ == 0) problem_ = "holds no whole sample";
    }
  }
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Whole samples the file holds; 0 when it cannot be read (see Problem).
  std::size_t Samples() const { return samples_; }
  // Why the file cannot be read; empty when it can.
  const std::string& Problem() const { return problem_; }

  // Reads samples [start, start + count) into `out`; false (with Problem
  // set) when they are not all there or reading fails.
  bool ReadWindow(std::size_t start, std::size_t count, float* out) {
    if (samples_ == 0 || start > samples_ || count > samples_ - start) {
      if (problem_.empty()) problem_ = "ends before the samples needed";
      return false;
    }
    std::vector<unsigned char> bytes(kBytesPerSample * count);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(kBytesPerSample * start + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        problem_ = n < 0 ? std::strerror(errno) : "ends before the samples needed";
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    DecodeSamples(bytes.data(), count, out);
    return true;
  }

  // Every whole sample of the file.
  // Every whole sample of the file; empty when reading fails. Memory grows
  // with what is read, so a huge sparse file claims nothing up front.
  std::vector<float> ReadAll() {
    constexpr std::size_t kBlockSamples = 16 * 1024;
    std::vector<float> samples;
    samples.reserve(std::min<std::size_t>(samples_, std::size_t(1) << 20));
    for (std::size_t start = 0; start < samples_; start += kBlockSamples) {
      const std::size_t n = std::min(kBlockSamples, samples_ - start);
      samples.resize(start + n);
      if (!ReadWindow(start, n, samples.data() + start)) return {};
    }
    return samples;
  }

private:
  int fd_ = -1;
  std::size_t samples_ = 0;
  std::string problem_;
};

// Every whole sample of the file at `path`; empty when it cannot be read,
// with the reason in *problem (if given).
inline std::vector<float> ReadFile(const std::string& path, std::string* problem = nullptr) {
  InputFile file(path);
  std::vector<float> samples = file.ReadAll();
  if (problem) *problem = samples.empty() ? file.Problem() : std::string();
  return samples;
}

}  // namespace flt
}  // namespace veskio2

#endif
