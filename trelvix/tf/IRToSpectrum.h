// Impulse responses to one-sided spectra, and the post-processing of spectra.
#ifndef TRELVIX_TF_IRTOSPECTRUM_H
#define TRELVIX_TF_IRTOSPECTRUM_H

#include <complex>
#include <cstdint>
#include <ostream>

#include "tf/MultiDimVector.h"
#include "tf/TFMakingParameters.h"

namespace trelvix {

// Unscaled forward DFT X[k] = sum_n x[n] e^(-j 2 pi k n / nfft) of every row,
// bins k = 0 .. nfft/2 (nfft/2 + 1 values). Any nfft >= 1 is exact; every
// row must hold nfft samples. An array without sources gives an empty array.
// Throws std::runtime_error for nfft 0 or a row of another length.
TFArray DoFFT(const IRArray& ir, uint32_t nfft);

// Negates the imaginary part of every value.
void ConjugateTF(TFArray& tf);

// Sets bin nfft/2 of every spectrum to 0; then, when a flag is set, writes
// "tf_vect size: S, M, B" to `report` and scales every block (whole axis
// along flagged axes, one index along the others) to unit energy
// sum |v|^2 = 1. Blocks with zero or non-finite energy stay unchanged.
// The post-processing both computations share, by output type: GTF values
// are conjugated and then, when `normalize` is set, normalised as the flags
// of `param` say (Normalize); M2PG values stay as they are. Throws
// std::runtime_error naming source, microphone and bin when a value is then
// not finite, so that none reaches a file.
void FinishTF(TFArray& tf, const TFMakingParameters& param, bool normalize, std::ostream& report);

void Normalize(TFArray& tf, uint32_t nfft, bool normalize_src, bool normalize_mic, bool normalize_freq,
               std::ostream& report);

}  // namespace trelvix

#endif
