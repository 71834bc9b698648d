#include "ResponseToRecording.h"

#include <algorithm>
#include <cmath>

#include "ToolError.h"

namespace vesktools {
namespace {

std::size_t NextPowerOfTwo(std::size_t n) {
  std::size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

}  // namespace

PlaybackConvolver::PlaybackConvolver(const std::vector<double>& playback, std::size_t max_response_samples)
    : playbackLength_(playback.size()),
      maxResponse_(std::max<std::size_t>(max_response_samples, 1)),
      fftSize_(std::max<std::size_t>(NextPowerOfTwo(2 * maxResponse_), 1024)),
      block_(fftSize_ - maxResponse_ + 1) {
  vesk::RealFft<double> fft(fftSize_);
  for (std::size_t start = 0; start < playbackLength_; start += block_) {
    const std::size_t count = std::min(block_, playbackLength_ - start);
    std::fill(fft.Time(), fft.Time() + fftSize_, 0.0);
    std::copy(playback.begin() + static_cast<std::ptrdiff_t>(start),
              playback.begin() + static_cast<std::ptrdiff_t>(start + count), fft.Time());
    fft.Forward();
    blockSpectra_.emplace_back(fft.Spectrum(), fft.Spectrum() + fft.NumBins());
  }
}

std::vector<double> PlaybackConvolver::Convolve(const std::vector<double>& response) const {
  if (response.size() > maxResponse_)
    throw ToolError("response of " + std::to_string(response.size()) + " samples exceeds the convolver's " +
                    std::to_string(maxResponse_));
  const std::size_t m = fftSize_;
  vesk::RealFft<double> fft(m);
  const std::size_t numBins = fft.NumBins();
  std::fill(fft.Time(), fft.Time() + m, 0.0);
  std::copy(response.begin(), response.end(), fft.Time());
  fft.Forward();
  const std::vector<std::complex<double>> responseSpectrum(fft.Spectrum(), fft.Spectrum() + numBins);

  std::vector<double> out(OutputLength(), 0.0);
  const double scale = 1.0 / static_cast<double>(m);
  for (std::size_t b = 0; b < blockSpectra_.size(); ++b) {
    std::complex<double>* spec = fft.Spectrum();
    for (std::size_t bin = 0; bin < numBins; ++bin) spec[bin] = blockSpectra_[b][bin] * responseSpectrum[bin];
    fft.Inverse();
    const std::size_t start = b * block_;
    const std::size_t count = std::min(m, out.size() - start);
    for (std::size_t t = 0; t < count; ++t) out[start + t] += fft.Time()[t] * scale;
  }
  return out;
}

void AddSensorNoise(std::vector<double>& signal, double snr_db, std::mt19937_64& rng) {
  if (signal.empty()) return;
  double power = 0.0;
  for (double v : signal) power += v * v;
  power /= static_cast<double>(signal.size());
  const double sigma = std::sqrt(power / std::pow(10.0, snr_db / 10.0));
  if (sigma == 0.0) return;
  std::normal_distribution<double> gauss(0.0, sigma);
  for (double& v : signal) v += gauss(rng);
}

}  // namespace vesktools
