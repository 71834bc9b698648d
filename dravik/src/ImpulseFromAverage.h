// Deconvolution of an averaged period by the TSP spectrum, giving a
// 4096-sample impulse response, with an optional spectral high-pass ramp.
#ifndef DRAVIK_IMPULSE_FROM_AVERAGE_H
#define DRAVIK_IMPULSE_FROM_AVERAGE_H

#include <memory>
#include <vector>

#include "Fft.h"
#include "Settings.h"

namespace dravik {

// Ramp bound in bins of the 4096-point filter spectrum for a frequency in Hz
// at the assumed rate of 16000 Hz, rounded half away from zero.
int ramp_bin(int frequency_hz);

// Weights w[k], k = 0..4095, of the high-pass ramp between bins low and
// high: with j = min(k, 4096 - k), 0 for j < low, (j + 1 - low)/(high - low)
// for low <= j < high, 1 for j >= high (a step at low when low >= high).
std::vector<double> highpass_weights(int low_bin, int high_bin);

class ImpulseFromAverage {
public:
  // `reference` holds at least `period_samples` (N >= 4096) samples; the
  // first N give the TSP spectrum, computed here once. The filter is
  // applied when `highpass` is set, with its bounds in Hz. Throws
  // std::bad_alloc.
  ImpulseFromAverage(const std::vector<double>& reference, int period_samples, bool highpass, int low_hz, int high_hz);

  // average: N samples, one averaged period. impulse: 4096 samples, the
  // first 4096 of IDFT(DFT(average) / DFT(reference)) / N (real part),
  // then high-passed when enabled. A zero bin of the TSP spectrum yields
  // non-finite values, as the plain quotient does.
  void compute(const double* average, double* impulse);

  // The same for two channels with one transform pair: both steps are real
  // filters, so channel a travels as the real part of one complex signal
  // and channel b as its imaginary part. The rounding error of each
  // channel is relative to the louder of the two (up to about 1e-15 of
  // it), below the float precision of the impulse files unless the
  // channels differ by more than about 140 dB.
  // The averages are read from pair_input(): N interleaved complex values,
  // channel a's average period in the even places and b's in the odd ones.
  // Without a channel b, impulse_b is null and the odd places are ignored.
  // The input is overwritten.
  double* pair_input() { return &period_fft_.data()[0][0]; }
  void compute_pair(double* impulse_a, double* impulse_b);

private:
  void apply_highpass(double* impulse_a, double* impulse_b);

  ComplexFft period_fft_;
  std::unique_ptr<ComplexFft> filter_fft_;  // 4096 points, with the filter only
  int n_;
  bool highpass_;
  std::vector<double> weights_;
  // TSP spectrum, bins 0..N/2 (the others are their conjugates), and the
  // power a² + b² of each.
  std::vector<double> tsp_re_, tsp_im_, tsp_power_;
};

}  // namespace dravik

#endif
