// Weighted measured directions to the spectrum of a target direction.
#ifndef VESK_TFINTERP_NEIGHBOURSTOSPECTRUM_H
#define VESK_TFINTERP_NEIGHBOURSTOSPECTRUM_H

#include <complex>
#include <cstddef>

#include "DirectionsToWeights.h"
#include "MeasurementToAligned.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

// One microphone's spectrum at a target, in the file's bins and its
// convention (conjugated for GTF), written to `out`:
// - NEAREST: the stored values of the neighbour of largest weight;
// - COMPLEX: the weighted sum of the stored values;
// - COMPLEX_ALIGNED: the weighted sum of the aligned spectra, delayed by the
//   weighted delay;
// - DELAY_ALIGNED: weighted magnitude, weighted unwrapped phase (each
//   neighbour's phase taken within pi of the heaviest neighbour's, bin by
//   bin), delayed by the weighted delay.
// The weighted delay (samples) is the weighted centre delay plus, scaled by
// delayScale, the weighted delay of the microphone relative to it.
// `aligned` must have been made for `method` (unused for NEAREST, COMPLEX).
void NeighboursToSpectrum(const TfMeasurement& tf, const DirectionGrid& grid, const DirectionDelays& delays,
                          const AlignedSpectra* aligned, Method method, const Neighbours& nb, std::size_t mic,
                          std::complex<float>* out);

}  // namespace vesktools

#endif
