#include <algorithm>
#include <cmath>

#include "Locate.h"
#include "RealFft.h"
#include "SoundFile.h"
#include "ToolError.h"

namespace vesktools {

void RecordingToCovariances(const std::string& path, const Steering& steering, const FrameSettings& settings,
                            const std::function<void(const BlockCovariance&)>& sink) {
  SoundReader reader(path);
  const std::size_t M = steering.numMics, N = steering.nfft, B = steering.bins.size();
  std::vector<std::size_t> channels = settings.channels;
  if (channels.empty())
    for (std::size_t mic = 0; mic < M; ++mic) channels.push_back(mic);
  if (channels.size() != M)
    throw ToolError("--channels names " + std::to_string(channels.size()) + " channels, but " + steering.path +
                    " has " + std::to_string(M) + " microphones");
  const std::size_t have = static_cast<std::size_t>(reader.Channels());
  for (std::size_t c : channels)
    if (c >= have)
      throw ToolError(path + ": expected at least " + std::to_string(c + 1) + " channels (channel " + std::to_string(c) +
                      " for a microphone), found " + std::to_string(have));
  if (reader.SampleRateHz() != steering.samplingHz)
    throw ToolError(path + ": expected the sampling rate of " + steering.path + " (" +
                    std::to_string(steering.samplingHz) + " Hz), found " + std::to_string(reader.SampleRateHz()) + " Hz");
  const std::size_t hop = settings.hopSamples ? settings.hopSamples : N / 2;
  const double rate = steering.samplingHz;
  const std::size_t blockSamples = std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(settings.blockS * rate)));
  if (reader.Frames() < N)
    throw ToolError(path + ": expected at least one frame of " + std::to_string(N) + " samples, found " +
                    std::to_string(reader.Frames()));

  // Periodic Hann window.
  std::vector<double> window(N);
  for (std::size_t t = 0; t < N; ++t) window[t] = 0.5 - 0.5 * std::cos(2 * 3.14159265358979323846 * t / N);

  RealFft fft(N);
  std::vector<std::vector<double>> buffer(M);  // samples from bufferStart on
  std::size_t bufferStart = 0, nextFrame = 0;
  std::vector<double> chunk;
  const std::size_t chunkFrames = 4096;
  chunk.resize(chunkFrames * have);
  std::vector<std::complex<double>> x(M * B);  // one frame's spectra, [bin][mic]

  BlockCovariance block;
  std::size_t blockIndex = 0;
  auto reset = [&](std::size_t index) {
    blockIndex = index;
    block.startS = index * blockSamples / rate;
    block.endS = (index + 1) * blockSamples / rate;
    block.frames = 0;
    block.perBin.assign(B, Eigen::MatrixXcd::Zero(M, M));
  };
  auto finish = [&](double endS) {
    if (block.frames == 0) return;
    block.endS = std::min(block.endS, endS);
    for (auto& r : block.perBin) r /= static_cast<double>(block.frames);
    sink(block);
  };
  reset(0);
  bool ended = false;
  std::size_t readTotal = 0;
  while (!ended) {
    const std::size_t got = reader.Read(chunk.data(), chunkFrames);
    if (got == 0) ended = true;
    readTotal += got;
    for (std::size_t mic = 0; mic < M; ++mic)
      for (std::size_t f = 0; f < got; ++f) {
        const double sample = chunk[f * have + channels[mic]];
        if (!std::isfinite(sample))
          throw ToolError(path + ": sample " + std::to_string(readTotal - got + f) + " of channel " +
                          std::to_string(channels[mic]) + " is not finite");
        buffer[mic].push_back(sample);
      }
    while (nextFrame + N <= bufferStart + buffer[0].size()) {
      const std::size_t centre = nextFrame + N / 2;
      const std::size_t index = centre / blockSamples;
      if (index != blockIndex) {
        finish(index * blockSamples / rate);
        reset(index);
      }
      for (std::size_t mic = 0; mic < M; ++mic) {
        const double* in = buffer[mic].data() + (nextFrame - bufferStart);
        double* t = fft.Time();
        for (std::size_t i = 0; i < N; ++i) t[i] = in[i] * window[i];
        fft.Forward();
        const std::complex<double>* spectrum = fft.Spectrum();
        for (std::size_t b = 0; b < B; ++b) x[b * M + mic] = spectrum[steering.bins[b]];
      }
      for (std::size_t b = 0; b < B; ++b) {
        Eigen::Map<const Eigen::VectorXcd> v(x.data() + b * M, static_cast<Eigen::Index>(M));
        block.perBin[b].noalias() += v * v.adjoint();
      }
      ++block.frames;
      nextFrame += hop;
    }
    // Keep only what the next frame needs.
    const std::size_t drop = std::min(nextFrame, bufferStart + buffer[0].size()) - bufferStart;
    if (drop > 0) {
      for (auto& v : buffer) v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(drop));
      bufferStart += drop;
    }
  }
  finish(readTotal / rate);
}

}  // namespace vesktools
