#include "TspOrigin.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CommandLine.h"
#include "Recording.h"
#include "veskio2/ByteOrder.h"
#include "veskio2/RegularFile.h"

namespace dravik {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

bool first_samples_silent(const std::vector<double>& samples, int count) {
  for (int m = 0; m < count; ++m) {
    if (samples[m] != 0.0) return false;
  }
  return true;
}

int refuse_origin() {
  std::puts("tsp origin file is not read.");
  return -1;
}

// Size of an open file in bytes, -1 when it cannot be told.
long long open_file_size(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long long size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

// Reads size_bytes / 4 little-endian floats from the current position.
int read_floats(std::FILE* file, long long size_bytes, std::vector<double>* samples, double* max_magnitude) {
  if (!samples || !max_magnitude || size_bytes < 0 || size_bytes % 4 != 0) return -1;
  const long long count = size_bytes / 4;
  samples->clear();
  samples->reserve(static_cast<std::size_t>(count));
  *max_magnitude = 0.0;
  unsigned char buffer[65536];
  long long remaining = count;
  while (remaining > 0) {
    std::size_t want =
        static_cast<std::size_t>(std::min<long long>(remaining, static_cast<long long>(sizeof buffer / 4)));
    if (std::fread(buffer, 4, want, file) != want) return -1;
    for (std::size_t m = 0; m < want; ++m) {
      double value = veskio2::detail::GetF32(buffer + 4 * m);
      samples->push_back(value);
      if (std::fabs(value) > *max_magnitude) *max_magnitude = std::fabs(value);
    }
    remaining -= static_cast<long long>(want);
  }
  return 0;
}

int load_float_origin(const RunSettings& settings, std::vector<double>* reference) {
  // One open serves both the size and the samples; a pipe or device (whose
  // open could block, whose end may never come) counts as unreadable.
  const bool regular = !veskio2::ExistsButNotRegular(settings.tsp_org_file);
  if (!regular) std::printf("%s: %s\n", settings.tsp_org_file.c_str(), veskio2::kNotRegularFile);
  FileHandle file(regular ? std::fopen(settings.tsp_org_file.c_str(), "rb") : nullptr);
  long long size = file ? open_file_size(file.get()) : -1;
  // The size is a 32-bit quantity for the rest of the run.
  if (size > INT_MAX) size = -1;
  std::printf("tsp_file_size = %d\n", static_cast<int>(size));
  if (size < 0) return refuse_origin();
  double max_magnitude = 0.0;
  if (read_floats(file.get(), size, reference, &max_magnitude) < 0) return refuse_origin();
  file.reset();
  const int n = settings.sample_by_frame;
  if (static_cast<long long>(reference->size()) < n || first_samples_silent(*reference, n)) {
    return refuse_origin();
  }
  double ratio = settings.sigmax_given ? settings.tsp_adjust_ratio : max_magnitude;
  std::printf("tsp_adjust_ratio = %f\n", ratio);
  for (int m = 0; m < n; ++m) (*reference)[m] /= ratio;
  return 0;
}

int load_wave_origin(const RunSettings& settings, std::vector<double>* reference) {
  Recording origin;
  if (!origin.open(settings.tsp_org_file)) return refuse_origin();
  const long channel = settings.tsp_org_channel;
  if (channel < 0 || channel > 127 || channel >= origin.channels()) {
    std::puts("Value of tsporigchannel is incorrect. ");
    print_usage();
    return -1;
  }
  const int channels = origin.channels();
  reference->clear();
  origin.read(0, origin.frames(), [&](const double* block, long long, int frames) {
    for (int f = 0; f < frames; ++f) {
      reference->push_back(block[static_cast<std::size_t>(f) * channels + channel]);
    }
  });
  const int n = settings.sample_by_frame;
  if (static_cast<long long>(reference->size()) < n || first_samples_silent(*reference, n)) {
    return refuse_origin();
  }
  return 0;
}

}  // namespace

long long tsp_file_size(const std::string& path) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return -1;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return -1;
  return std::ftell(file.get());
}

int read_float_file(const std::string& path, long long size_bytes, std::vector<double>* samples,
                    double* max_magnitude) {
  if (!samples || !max_magnitude || size_bytes < 0 || size_bytes % 4 != 0) return -1;
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return -1;
  return read_floats(file.get(), size_bytes, samples, max_magnitude);
}

int load_tsp_reference(const RunSettings& settings, std::vector<double>* reference) {
  if (settings.tsp_org_type == kTspOriginWave) return load_wave_origin(settings, reference);
  return load_float_origin(settings, reference);
}

}  // namespace dravik
