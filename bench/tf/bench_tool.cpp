// Data and reference reader for the tf-mode benchmark.
//   generate DIR DIRECTIONS CHANNELS PERIODS N: DIR/origin.flt (one period of
//     a flat-spectrum signal, little-endian float32) and DIR/D<azimuth>_00.wav for
//     azimuths 0, 5, ... (16-bit PCM, PERIODS + 1 periods, channel c the
//     origin delayed by a few samples).
//   read DIR: reads every DIR/*.wav once with libsndfile in blocks.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>
#include <sndfile.h>

#include "base/RealFft.h"
#include "base/SoundFileHandle.h"
#include "veskio2/FltFile.h"

namespace {

using SndFile = vesk::SoundFileHandle;

std::vector<float> FlatSpectrumPeriod(std::size_t n) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> phase(-M_PI, M_PI);
  vesk::RealFft<double> fft(n);
  std::complex<double>* spectrum = fft.Spectrum();
  for (std::size_t k = 0; k < fft.NumBins(); ++k)
    spectrum[k] = (k == 0 || k == n / 2) ? 1.0 : std::polar(1.0, phase(gen));
  fft.Inverse();
  const double* signal = fft.Time();
  double peak = 0;
  for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(signal[i]));
  std::vector<float> period(n);
  for (std::size_t i = 0; i < n; ++i) period[i] = float(signal[i] * 0.25 / peak);
  return period;
}

int Generate(const std::string& dir, int directions, int channels, int periods, std::size_t n) {
  const std::vector<float> origin = FlatSpectrumPeriod(n);
  {
    std::ofstream out(dir + "/origin.flt", std::ios::binary);
    veskio2::flt::Write(out, origin.data(), n);
    out.close();
    if (!out) return 1;
  }
  std::vector<short> period(n * std::size_t(channels));
  for (int d = 0; d < directions; ++d) {
    for (int c = 0; c < channels; ++c)
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t delay = std::size_t(c + d % 7);
        period[i * std::size_t(channels) + std::size_t(c)] = short(std::lround(origin[(i + n - delay) % n] * 32767.0));
      }
    char name[32];
    std::snprintf(name, sizeof name, "/D%03d_00.wav", d * 5);
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFile file(sf_open((dir + name).c_str(), SFM_WRITE, &info));
    if (!file) return 1;
    for (int p = 0; p <= periods; ++p)
      if (sf_writef_short(file.get(), period.data(), sf_count_t(n)) != sf_count_t(n)) return 1;
  }
  return 0;
}

int Read(const std::string& dir) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(dir.c_str()), closedir);
  if (!listing) return 1;
  double sum = 0;
  std::vector<float> block;
  while (dirent* entry = readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.substr(name.size() - 4) != ".wav") continue;
    SF_INFO info{};
    SndFile file(sf_open((dir + "/" + name).c_str(), SFM_READ, &info));
    if (!file) return 1;
    constexpr sf_count_t kFrames = 4096;
    block.resize(std::size_t(kFrames) * std::size_t(info.channels));
    for (sf_count_t got; (got = sf_readf_float(file.get(), block.data(), kFrames)) > 0;) sum += block[0];
  }
  std::printf("%g\n", sum);  // keeps the reads from being optimised away
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "generate") == 0) {
    return Generate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                    std::size_t(std::atol(argv[6])));
  }
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2]);
  std::fprintf(stderr, "usage: %s generate DIR DIRECTIONS CHANNELS PERIODS N | read DIR\n", argv[0]);
  return 2;
}
