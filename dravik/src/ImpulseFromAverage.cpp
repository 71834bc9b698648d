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

ImpulseFromAverage::ImpulseFromAverage(FftCache& ffts, const std::vector<double>& reference,
                                       int period_samples, bool highpass, int low_hz, int high_hz)
    : period_fft_(ffts.get(period_samples)),
      filter_fft_(ffts.get(kImpulseLength)),
      n_(period_samples),
      highpass_(highpass),
      tsp_re_(n_ / 2 + 1), tsp_im_(n_ / 2 + 1),
      avg_re_(n_ / 2 + 1), avg_im_(n_ / 2 + 1),
      quotient_re_(n_ / 2 + 1), quotient_im_(n_ / 2 + 1),
      period_(n_),
      filter_re_(kImpulseLength / 2 + 1), filter_im_(kImpulseLength / 2 + 1) {
    if (highpass_) weights_ = highpass_weights(ramp_bin(low_hz), ramp_bin(high_hz));
    period_fft_.forward_half(reference.data(), tsp_re_.data(), tsp_im_.data());
}

void ImpulseFromAverage::compute(const double* average, double* impulse) {
    // Real signals: the bins above N/2 mirror these, so the quotient is
    // computed on half the spectrum and transformed back to a real signal.
    period_fft_.forward_half(average, avg_re_.data(), avg_im_.data());
    for (int bin = 0; bin <= n_ / 2; ++bin) {
        const double a = tsp_re_[bin], b = tsp_im_[bin];
        const double e = avg_re_[bin], f = avg_im_[bin];
        const double power = a * a + b * b;
        quotient_re_[bin] = (a * e + b * f) / power;
        quotient_im_[bin] = (a * f - b * e) / power;
    }
    period_fft_.inverse_half(quotient_re_.data(), quotient_im_.data(), period_.data());
    for (int m = 0; m < kImpulseLength; ++m) impulse[m] = period_[m] / n_;
    if (highpass_) apply_highpass(impulse);
}

void ImpulseFromAverage::apply_highpass(double* impulse) {
    filter_fft_.forward_half(impulse, filter_re_.data(), filter_im_.data());
    for (int bin = 0; bin <= kImpulseLength / 2; ++bin) {
        filter_re_[bin] *= weights_[bin];
        filter_im_[bin] *= weights_[bin];
    }
    filter_fft_.inverse_half(filter_re_.data(), filter_im_.data(), impulse);
    for (int m = 0; m < kImpulseLength; ++m) impulse[m] *= 0.000244140625;  // 1/4096
}

}  // namespace dravik
