#include <algorithm>
#include <cmath>

#include "Locate.h"
#include "SoundFile.h"
#include "ToolError.h"

namespace vesktools {

void RecordingToBlocks(const std::string& path, const Steering& steering, const FrameSettings& settings,
                       const std::function<void(BlockCovariance&&)>& sink) {
  SoundReader reader(path);
  const std::size_t M = steering.numMics, N = steering.nfft;
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

  // Frame f starts at sample f * hop and belongs to the block of its centre:
  // block b holds frames [firstFrame(b), firstFrame(b + 1)).
  const auto firstFrame = [&](std::size_t b) -> std::size_t {
    const std::size_t start = b * blockSamples;
    return start <= N / 2 ? 0 : (start - N / 2 + hop - 1) / hop;
  };
  std::vector<std::vector<float>> buffer(M);  // samples from bufferStart on
  std::size_t bufferStart = 0, buffered = 0;
  const std::size_t chunkFrames = 4096;
  std::vector<float> chunk(chunkFrames * have);
  std::size_t blockIndex = 0, readTotal = 0;
  // Hands on block b's frames [f0, f1) from the buffer.
  const auto emit = [&](std::size_t b, std::size_t f0, std::size_t f1, double endS) {
    BlockCovariance block;
    block.startS = b * blockSamples / rate;
    block.endS = std::min((b + 1) * blockSamples / rate, endS);
    block.frames = f1 - f0;
    block.numMics = M;
    block.hopSamples = hop;
    block.span = (f1 - f0 - 1) * hop + N;
    block.samples.reserve(M * block.span);  // filled by copies alone, never zeroed first
    for (std::size_t mic = 0; mic < M; ++mic) {
      const auto from = buffer[mic].begin() + static_cast<std::ptrdiff_t>(f0 * hop - bufferStart);
      block.samples.insert(block.samples.end(), from, from + static_cast<std::ptrdiff_t>(block.span));
    }
    sink(std::move(block));
  };
  for (;;) {
    const std::size_t got = reader.Read(chunk.data(), chunkFrames);
    for (std::size_t mic = 0; mic < M; ++mic) {
      std::vector<float>& v = buffer[mic];
      v.resize(buffered + got);
      const std::size_t c = channels[mic];
      for (std::size_t f = 0; f < got; ++f) {
        const float sample = chunk[f * have + c];
        if (!std::isfinite(sample))
          throw ToolError(path + ": sample " + std::to_string(readTotal + f) + " of channel " + std::to_string(c) +
                          " is not finite");
        v[buffered + f] = sample;
      }
    }
    buffered += got;
    readTotal += got;
    const std::size_t available = bufferStart + buffered;  // samples read so far
    // Every block whose last frame has been read, or at the end the frames
    // that fit.
    for (;;) {
      const std::size_t f0 = firstFrame(blockIndex), f1 = firstFrame(blockIndex + 1);
      std::size_t last = f1;
      if (f1 > f0 && (f1 - 1) * hop + N > available) {
        if (got > 0) break;
        last = available >= N ? std::min(f1, (available - N) / hop + 1) : 0;
      }
      if (last > f0) emit(blockIndex, f0, last, got > 0 ? HUGE_VAL : readTotal / rate);
      if (last < f1) break;  // the end of the recording
      ++blockIndex;
    }
    if (got == 0) break;
    // Keep only what the next block needs.
    const std::size_t keep = std::min(firstFrame(blockIndex) * hop, available);
    if (keep > bufferStart) {
      const std::size_t drop = keep - bufferStart;
      for (auto& v : buffer) std::copy(v.begin() + static_cast<std::ptrdiff_t>(drop), v.end(), v.begin());
      buffered -= drop;
      bufferStart = keep;
    }
  }
}

}  // namespace vesktools
