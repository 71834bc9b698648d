// Recordings: the playback signal convolved with a response, plus sensor
// noise.
#ifndef VESK_TOOLS_RESPONSETORECORDING_H
#define VESK_TOOLS_RESPONSETORECORDING_H

#include <complex>
#include <cstddef>
#include <random>
#include <vector>

#include "base/RealFft.h"

namespace vesktools {

// Linear convolution of one fixed playback signal with many responses by
// overlap-add through FFTW: the playback's block spectra are made once, so
// each response costs one forward and one inverse transform per block.
class PlaybackConvolver {
public:
  // Responses handed to Convolve may have up to max_response_samples samples.
  PlaybackConvolver(const std::vector<double>& playback, std::size_t max_response_samples);

  // Full linear convolution, playback length + max_response_samples - 1
  // samples long, in the playback's scale. Throws ToolError for a response
  // longer than max_response_samples. Calls may run on several threads at
  // once: each has a transform of its own.
  std::vector<double> Convolve(const std::vector<double>& response) const;

  std::size_t OutputLength() const { return playbackLength_ + maxResponse_ - 1; }

private:
  std::size_t playbackLength_;
  std::size_t maxResponse_;
  std::size_t fftSize_;  // samples
  std::size_t block_;    // playback samples per block
  std::vector<std::vector<std::complex<double>>> blockSpectra_;
};

// Adds white Gaussian noise at `snr_db` below the mean power of `signal`
// (mean square over all its samples). A silent signal stays silent.
void AddSensorNoise(std::vector<double>& signal, double snr_db, std::mt19937_64& rng);

}  // namespace vesktools

#endif
