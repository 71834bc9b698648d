// Measured responses to delay-aligned ones: the arrival delay of every
// (direction, microphone) taken out, so that neighbours can be weighted
// without comb filtering.
#ifndef VESK_TFINTERP_MEASUREMENTTOALIGNED_H
#define VESK_TFINTERP_MEASUREMENTTOALIGNED_H

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "DirectionsToWeights.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

enum class Method { DELAY_ALIGNED, COMPLEX_ALIGNED, NEAREST, COMPLEX };
const char* MethodName(Method method);
// Throws ToolError naming the text and the methods there are.
Method ParseMethod(const std::string& text);

// Arrival delays in samples of the file's rate, per distinct direction:
// `centre` the mean over the microphones, `relative` [dir * mics + mic] each
// microphone's delay less that mean. The robust estimate of tfcheck
// (300 Hz to 0.8 of Nyquist), every core used.
struct DirectionDelays {
  std::vector<double> centre;
  std::vector<double> relative;
};
DirectionDelays MeasurementToDelaysByDirection(const TfMeasurement& tf, const DirectionGrid& grid);

// The measured spectra of each distinct direction as a method weights them,
// [dir][mic] rows of the file's bins, of the true spectrum (a GTF file's
// stored conjugate undone): for DELAY_ALIGNED (magnitude, unwrapped phase
// in radians) of X * exp(+i omega tau) held as (real, imag), for
// COMPLEX_ALIGNED X * exp(+i omega tau) itself, omega = 2 pi bin / nfft,
// tau the direction's delay. Made in place over the file's own spectra
// (`inPlace`: the file's values are then gone) or in a store of its own.
class AlignedSpectra {
public:
  AlignedSpectra(const TfMeasurement& tf, const DirectionGrid& grid, const DirectionDelays& delays, Method method,
                 bool inPlace);
  const std::complex<float>* Row(std::size_t dir, std::size_t mic) const { return rows_[dir * numMics_ + mic]; }

private:
  std::size_t numMics_;
  std::vector<std::complex<float>> own_;
  std::vector<std::complex<float>*> rows_;
};

}  // namespace vesktools

#endif
