// Arrival delays of every (source, microphone) of a transfer-function file.
#ifndef VESK_TFCHECK_MEASUREMENTTODELAYS_H
#define VESK_TFCHECK_MEASUREMENTTODELAYS_H

#include <vector>

#include "TfFileToMeasurement.h"

namespace vesktools {

struct DelayBand {
  double lowHz = 300.0;
  double highHz = 0.0;  // 0: 0.8 of the Nyquist frequency
};

// delays[src][mic] in samples of the file's rate: the arrival of the direct
// sound in each transfer function (DelayEstimator, 8 times interpolated, gate
// of +-max(16 samples, 1 ms)), in the band given (clipped to the bins the
// file holds). The delays of one source are taken in one period: each lies
// within nfft / 2 of the source's median. `samplingHz` is the rate the band
// is converted with (the file's unless the user overrides it). Throws
// ToolError when the band holds fewer than 4 bins. Non-finite values (a
// normalised all-zero response) are read as 0 and counted in
// `nonFiniteSpectra` (number of (source, microphone) pairs holding any).
// Sources are shared out over the usable cores; the result does not depend
// on how many there are.
std::vector<std::vector<double>> MeasurementToDelays(const TfMeasurement& tf, double samplingHz, const DelayBand& band,
                                                     std::size_t& nonFiniteSpectra);

}  // namespace vesktools

#endif
