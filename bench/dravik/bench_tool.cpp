// Input generator and plain reader for the impulse calculator's benchmark.
//
//   dravik_bench_tool generate DIR CHANNELS PERIODS SAMPLES_PER_PERIOD
//     writes DIR/tsp.flt (one period of a sweep, little-endian float32) and
//     DIR/rec.wav (16-bit PCM, 16000 Hz): one period of lead-in, then
//     PERIODS periods of the sweep, slightly different on every channel.
//   dravik_bench_tool read FILE
//     reads FILE once through libsndfile in blocks of 65536 frames and
//     prints a checksum, the baseline the program is measured against.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/SoundFileHandle.h"
#include "veskio2/FltFile.h"

namespace {

using SndfileHandle = vesk::SoundFileHandle;

// One period of a linear sweep from 0 Hz to half the sampling rate over the
// first half of the period, silent in the second half.
std::vector<double> sweep(int samples) {
  const double pi = 3.14159265358979323846;
  std::vector<double> out(samples, 0.0);
  const int length = samples / 2;
  for (int t = 0; t < length; ++t) {
    double phase = pi * 0.5 * t * static_cast<double>(t) / length;
    out[t] = 0.5 * std::sin(phase);
  }
  return out;
}

int generate(const std::string& dir, int channels, int periods, int samples) {
  std::vector<double> period = sweep(samples);
  {
    const std::vector<float> samples(period.begin(), period.end());
    std::ofstream tsp(dir + "/tsp.flt", std::ios::binary);
    veskio2::flt::Write(tsp, samples.data(), samples.size());
    tsp.close();
    if (!tsp) return 1;
  }
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = 16000;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndfileHandle wave(sf_open((dir + "/rec.wav").c_str(), SFM_WRITE, &info));
  if (!wave) return 1;
  std::vector<double> frame_block(static_cast<std::size_t>(samples) * channels);
  unsigned state = 1;
  for (int p = 0; p <= periods; ++p) {
    for (int t = 0; t < samples; ++t) {
      for (int c = 0; c < channels; ++c) {
        state = state * 1103515245u + 12345u;
        double noise = 1e-3 * (static_cast<int>((state >> 8) % 2001) - 1000) / 1000.0;
        double gain = 0.5 + 0.03 * c;
        double played = p == 0 ? 0.0 : period[(t + samples - c) % samples];
        frame_block[static_cast<std::size_t>(t) * channels + c] = gain * played + noise;
      }
    }
    if (sf_writef_double(wave.get(), frame_block.data(), samples) != samples) return 1;
  }
  return 0;
}

int read_once(const std::string& path) {
  SF_INFO info{};
  SndfileHandle wave(sf_open(path.c_str(), SFM_READ, &info));
  if (!wave) return 1;
  const sf_count_t block_frames = 65536;
  std::vector<double> block(static_cast<std::size_t>(block_frames) * info.channels);
  double checksum = 0.0;
  sf_count_t got;
  while ((got = sf_readf_double(wave.get(), block.data(), block_frames)) > 0) {
    for (sf_count_t i = 0; i < got * info.channels; i += 4099) checksum += block[i];
  }
  std::printf("%.6f\n", checksum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "generate") {
    return generate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (argc == 3 && std::string(argv[1]) == "read") return read_once(argv[2]);
  std::fprintf(stderr, "usage: %s generate DIR CHANNELS PERIODS SAMPLES | read FILE\n", argv[0]);
  return 2;
}
