#include "ImpulseFromAverage.h"

#include <algorithm>
#include <cmath>

#include "Settings.h"

namespace dravik {
namespace {

constexpr double kFilterRateHz = 16000.0;

}  // namespace

int ramp_bin(int frequency_hz) {
  return static_cast<int>(std::round(frequency_hz * static_cast<double>(kImpulseLength) / kFilterRateHz));
}

std::vector<double> highpass_weights(int low_bin, int high_bin) {
  std::vector<double> weights(kImpulseLength);
  for (int bin = 0; bin < kImpulseLength; ++bin) {
    int j = std::min(bin, kImpulseLength - bin);
    if (j < low_bin) {
      weights[bin] = 0.0;
    } else if (j < high_bin) {
      weights[bin] = static_cast<double>(j + 1 - low_bin) / (high_bin - low_bin);
    } else {
      weights[bin] = 1.0;
    }
  }
  return weights;
}

ImpulseFromAverage::ImpulseFromAverage(const std::vector<double>& reference, int period_samples, bool highpass,
                                       int low_hz, int high_hz)
    : period_fft_(period_samples),
      n_(period_samples),
      highpass_(highpass),
      tsp_re_(n_ / 2 + 1),
      tsp_im_(n_ / 2 + 1),
      tsp_power_(n_ / 2 + 1) {
  if (highpass_) {
    filter_fft_ = std::make_unique<ComplexFft>(kImpulseLength);
    weights_ = highpass_weights(ramp_bin(low_hz), ramp_bin(high_hz));
  }
  fftw_complex* z = period_fft_.data();
  for (int m = 0; m < n_; ++m) {
    z[m][0] = reference[m];
    z[m][1] = 0.0;
  }
  period_fft_.forward();
  for (int bin = 0; bin <= n_ / 2; ++bin) {
    tsp_re_[bin] = z[bin][0];
    tsp_im_[bin] = z[bin][1];
    tsp_power_[bin] = z[bin][0] * z[bin][0] + z[bin][1] * z[bin][1];
  }
}

namespace {

// z = conj(z · conj(t) / |t|²), t = a + ib with power a² + b²: the quotient,
// conjugated for the inverse transform done as a forward one.
inline void divide_conjugated(fftw_complex z, double a, double b, double power) {
  const double e = z[0], f = z[1];
  z[0] = (a * e + b * f) / power;
  z[1] = (b * e - a * f) / power;
}

}  // namespace

void ImpulseFromAverage::compute(const double* average, double* impulse) {
  double* z = pair_input();
  for (int m = 0; m < n_; ++m) z[2 * m] = average[m];
  compute_pair(impulse, nullptr);
}

void ImpulseFromAverage::compute_pair(double* impulse_a, double* impulse_b) {
  fftw_complex* z = period_fft_.data();
  if (!impulse_b) {
    for (int m = 0; m < n_; ++m) z[m][1] = 0.0;
  }
  period_fft_.forward();
  const int half = n_ / 2;
  for (int bin = 0; bin <= half; ++bin) {
    divide_conjugated(z[bin], tsp_re_[bin], tsp_im_[bin], tsp_power_[bin]);
  }
  for (int bin = half + 1; bin < n_; ++bin) {
    const int mirror = n_ - bin;  // the TSP is real: t[bin] = conj(t[N - bin])
    divide_conjugated(z[bin], tsp_re_[mirror], -tsp_im_[mirror], tsp_power_[mirror]);
  }
  period_fft_.forward();  // conjugated: the inverse transform
  for (int m = 0; m < kImpulseLength; ++m) impulse_a[m] = z[m][0] / n_;
  if (impulse_b) {
    for (int m = 0; m < kImpulseLength; ++m) impulse_b[m] = -z[m][1] / n_;
  }
  if (highpass_) apply_highpass(impulse_a, impulse_b);
}

void ImpulseFromAverage::apply_highpass(double* impulse_a, double* impulse_b) {
  // The weights are even (w[k] = w[4096 - k]), so the filter is real too.
  fftw_complex* y = filter_fft_->data();
  for (int m = 0; m < kImpulseLength; ++m) {
    y[m][0] = impulse_a[m];
    y[m][1] = impulse_b ? impulse_b[m] : 0.0;
  }
  filter_fft_->forward();
  for (int bin = 0; bin < kImpulseLength; ++bin) {
    y[bin][0] *= weights_[bin];
    y[bin][1] *= -weights_[bin];  // conjugated for the inverse
  }
  filter_fft_->forward();
  for (int m = 0; m < kImpulseLength; ++m) impulse_a[m] = y[m][0] * 0.000244140625;  // 1/4096
  if (impulse_b) {
    for (int m = 0; m < kImpulseLength; ++m) impulse_b[m] = -y[m][1] * 0.000244140625;
  }
}

}  // namespace dravik
