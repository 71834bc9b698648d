// Deconvolution of an averaged period by the TSP spectrum, giving a
// 4096-sample impulse response, with an optional spectral high-pass ramp.
#ifndef DRAVIK_IMPULSE_FROM_AVERAGE_H
#define DRAVIK_IMPULSE_FROM_AVERAGE_H

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
    ImpulseFromAverage(FftCache& ffts, const std::vector<double>& reference, int period_samples,
                       bool highpass, int low_hz, int high_hz);

    // average: N samples, one averaged period. impulse: 4096 samples, the
    // first 4096 of IDFT(DFT(average) / DFT(reference)) / N (real part),
    // then high-passed when enabled. A zero bin of the TSP spectrum yields
    // non-finite values, as the plain quotient does.
    void compute(const double* average, double* impulse);

private:
    void apply_highpass(double* impulse);

    Fft& period_fft_;
    Fft& filter_fft_;
    int n_;
    bool highpass_;
    std::vector<double> weights_;
    std::vector<double> tsp_re_, tsp_im_;
    std::vector<double> avg_re_, avg_im_;
    std::vector<double> quotient_re_, quotient_im_;
    std::vector<double> period_;
    std::vector<double> filter_re_, filter_im_;
};

}  // namespace dravik

#endif
