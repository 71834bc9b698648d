#include <algorithm>
#include <cmath>

#include "Locate.h"
#include "base/Constants.h"
#include "base/Cores.h"
#include "base/RealFft.h"
#include "SoundFile.h"
#include "ToolError.h"

namespace vesktools {
void BinCovariances(const BlockCovariance& block, std::size_t firstBin, std::size_t lastBin,
                    std::vector<Eigen::MatrixXcd>& r) {
  const std::size_t n = lastBin - firstBin;
  r.resize(n);
  if (!block.perBin.empty()) {
    for (std::size_t k = 0; k < n; ++k) r[k] = block.perBin[firstBin + k];
    return;
  }
  const std::size_t M = block.numMics, B = block.numBins;
  // Sums of x x^H, upper triangle, [i][j][bin], frame by frame: the loop over
  // the bins is the inner one, so each sum keeps its order and the loop is
  // vectorised. Plain arithmetic: a std::complex product checks for
  // infinities on every call.
  std::vector<double> re(M * M * n, 0.0), im(M * M * n, 0.0);
  for (std::size_t f = 0; f < block.frames; ++f) {
    const double* fr = block.frameRe.data() + f * M * B + firstBin;
    const double* fi = block.frameIm.data() + f * M * B + firstBin;
    for (std::size_t i = 0; i < M; ++i)
      for (std::size_t j = i; j < M; ++j) {  // x_i conj(x_j)
        const double* air = fr + i * B;
        const double* aii = fi + i * B;
        const double* ajr = fr + j * B;
        const double* aji = fi + j * B;
        double* sr = re.data() + (i * M + j) * n;
        double* si = im.data() + (i * M + j) * n;
        for (std::size_t k = 0; k < n; ++k) {
          sr[k] += air[k] * ajr[k] + aii[k] * aji[k];
          si[k] += aii[k] * ajr[k] - air[k] * aji[k];
        }
      }
  }
  const double scale = 1.0 / static_cast<double>(block.frames);
  for (std::size_t k = 0; k < n; ++k) {
    Eigen::MatrixXcd& m = r[k];
    m.resize(static_cast<Eigen::Index>(M), static_cast<Eigen::Index>(M));
    for (std::size_t i = 0; i < M; ++i)
      for (std::size_t j = i; j < M; ++j) {
        const std::complex<double> v(re[(i * M + j) * n + k] * scale, im[(i * M + j) * n + k] * scale);
        m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = v;
        m(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(i)) = std::conj(v);
      }
  }
}

void FramesToSpectra(std::vector<BlockCovariance>& blocks, const Steering& steering) {
  const std::size_t M = steering.numMics, N = steering.nfft, B = steering.bins.size();
  std::vector<std::pair<std::size_t, std::size_t>> frames;  // (block, frame) still in time
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (blocks[b].frameTime.empty()) continue;
    blocks[b].frameRe.assign(blocks[b].frames * M * B, 0.0);
    blocks[b].frameIm.assign(blocks[b].frames * M * B, 0.0);
    for (std::size_t f = 0; f < blocks[b].frames; ++f) frames.emplace_back(b, f);
  }
  vesk::OverCores(
      frames.size(),
      [&](std::size_t first, std::size_t last) {
        vesk::RealFft<double> fft(N);
        for (std::size_t i = first; i < last; ++i) {
          BlockCovariance& block = blocks[frames[i].first];
          const std::size_t f = frames[i].second;
          for (std::size_t mic = 0; mic < M; ++mic) {
            const double* t = block.frameTime.data() + (f * M + mic) * N;
            std::copy(t, t + N, fft.Time());
            fft.Forward();
            const std::complex<double>* spectrum = fft.Spectrum();
            double* xr = block.frameRe.data() + (f * M + mic) * B;
            double* xi = block.frameIm.data() + (f * M + mic) * B;
            for (std::size_t k = 0; k < B; ++k) {
              xr[k] = spectrum[steering.bins[k]].real();
              xi[k] = spectrum[steering.bins[k]].imag();
            }
          }
        }
      },
      8);
  for (BlockCovariance& block : blocks) std::vector<double>().swap(block.frameTime);
}

void RecordingToCovariances(const std::string& path, const Steering& steering, const FrameSettings& settings,
                            const std::function<void(BlockCovariance&&)>& sink) {
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
      throw ToolError(path + ": expected at least " + std::to_string(c + 1) + " channels (channel " +
                      std::to_string(c) + " for a microphone), found " + std::to_string(have));
  if (reader.SampleRateHz() != steering.samplingHz)
    throw ToolError(path + ": expected the sampling rate of " + steering.path + " (" +
                    std::to_string(steering.samplingHz) + " Hz), found " + std::to_string(reader.SampleRateHz()) +
                    " Hz");
  const std::size_t hop = settings.hopSamples ? settings.hopSamples : N / 2;
  const double rate = steering.samplingHz;
  const std::size_t blockSamples =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(settings.blockS * rate)));
  if (reader.Frames() < N)
    throw ToolError(path + ": expected at least one frame of " + std::to_string(N) + " samples, found " +
                    std::to_string(reader.Frames()));

  // Periodic Hann window.
  std::vector<double> window(N);
  for (std::size_t t = 0; t < N; ++t) window[t] = 0.5 - 0.5 * std::cos(2 * vesk::kPi * t / N);

  std::vector<std::vector<double>> buffer(M);  // samples from bufferStart on
  std::size_t bufferStart = 0, nextFrame = 0;
  std::vector<double> chunk;
  const std::size_t chunkFrames = 4096;
  chunk.resize(chunkFrames * have);
  BlockCovariance block;
  std::size_t blockIndex = 0;
  const std::size_t framesPerBlock = blockSamples / hop + 2;
  auto reset = [&](std::size_t index) {
    block = BlockCovariance();
    block.frameTime.reserve(framesPerBlock * M * N);
    blockIndex = index;
    block.startS = index * blockSamples / rate;
    block.endS = (index + 1) * blockSamples / rate;
    block.frames = 0;
    block.numMics = M;
    block.numBins = B;
  };
  auto finish = [&](double endS) {
    if (block.frames == 0) return;
    block.endS = std::min(block.endS, endS);
    sink(std::move(block));
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
      // Windowed here; transformed where the search runs (FramesToSpectra).
      block.frameTime.resize((block.frames + 1) * M * N);
      for (std::size_t mic = 0; mic < M; ++mic) {
        const double* in = buffer[mic].data() + (nextFrame - bufferStart);
        double* t = block.frameTime.data() + (block.frames * M + mic) * N;
        for (std::size_t i = 0; i < N; ++i) t[i] = in[i] * window[i];
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
